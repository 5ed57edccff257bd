// The frame shared by the console's pages: the help button and the print or refresh button that
// the page's row of the page table names, group frames and the status line, set up the same way on
// every page.
#pragma once

#include <QRect>
#include <QString>

#include "app/page.h"
#include "app/page_registry.h"

class CzCExtGroup;
class CzCThreeDPanel;
class RoundButton;
class StatusLabel;

// Control ids of the frame's buttons (also their object names: "button<id>").
constexpr int ID_HELP_BUTTON = 1012;
constexpr int ID_PRINT_BUTTON = 1003;
constexpr int ID_REFRESH_BUTTON = 1023;

class FramePage : public Page {
    Q_OBJECT
  public:
    // A page of the given row of the page table; the frame parts are added by the page's
    // constructor.
    FramePage(const PageEntry& entry, QWidget* parent);

    const PageEntry& entry() const { return m_entry; }
    int helpContext() const override { return m_entry.helpContext; }

    RoundButton* helpButton() const { return m_help; }
    RoundButton* printButton() const { return m_print; }
    RoundButton* refreshButton() const { return m_refresh; }
    StatusLabel* statusLabel() const { return m_status; }

  signals:
    // The print and refresh buttons were pressed (the page's content answers them).
    void printRequested();
    void refreshRequested();

  protected:
    // The row's frame buttons: "&Súgó" at the bottom left, opening the page's help context
    // (none for HELP_NONE), then "&Nyomtat" or "&Frissít" (hidden for HiddenPrint and
    // HiddenRefresh) at the bottom right.
    void addFrameButtons();
    // A captioned group frame; with a caption font flag of 0 or 1 the common caption font
    // (SetGroupCaptionFont) is used, with -1 the frame's own.
    CzCExtGroup* addGroup(const QString& caption, const QRect& geometry, int captionFlag = -1);
    // A titled 3-D panel.
    CzCThreeDPanel* addPanel(const QString& title, const QRect& geometry);
    // The status line with the common look (SetupStatusLabel) at the given place, or inside the
    // panel when one is given; normal weight unless bold is set.
    StatusLabel* addStatusLabel(const QRect& geometry, const QString& text, bool bold = false,
                                CzCThreeDPanel* panel = nullptr);

  private:
    PageEntry m_entry;
    RoundButton* m_help = nullptr;
    RoundButton* m_print = nullptr;
    RoundButton* m_refresh = nullptr;
    StatusLabel* m_status = nullptr;
};
