// The frame shared by the console's pages: the help, print and refresh buttons, group frames and
// the status line, set up the same way on every page.
#pragma once

#include <QRect>
#include <QString>

#include "page.h"

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
    // A page with the given help context; the frame parts are added by the page's constructor.
    FramePage(int helpContext, QWidget* parent);

    int helpContext() const override { return m_helpContext; }

    RoundButton* helpButton() const { return m_help; }
    RoundButton* printButton() const { return m_print; }
    RoundButton* refreshButton() const { return m_refresh; }
    StatusLabel* statusLabel() const { return m_status; }

  signals:
    // The print and refresh buttons were pressed (the page's content answers them).
    void printRequested();
    void refreshRequested();

  protected:
    // "&Súgó" at the bottom left, opening the page's help context.
    void addHelpButton();
    // "&Nyomtat" at the bottom right.
    void addPrintButton();
    // "&Frissít" at the bottom right; created hidden when visible is false.
    void addRefreshButton(bool visible = true);
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
    int m_helpContext;
    RoundButton* m_help = nullptr;
    RoundButton* m_print = nullptr;
    RoundButton* m_refresh = nullptr;
    StatusLabel* m_status = nullptr;
};
