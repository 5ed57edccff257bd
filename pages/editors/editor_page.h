// The frame shared by the three editor pages: the sheet in its panel, the message panel with the
// status line, help and print.
#pragma once

#include "frame_page.h"

class CVCF1;
class CzCThreeDPanel;

class EditorPage : public FramePage {
    Q_OBJECT
  public:
    CVCF1* sheet() const { return m_sheet; }
    CzCThreeDPanel* sheetPanel() const { return m_sheetPanel; }
    CzCThreeDPanel* messagePanel() const { return m_messagePanel; }

  protected:
    EditorPage(const PageEntry& entry, QWidget* parent);
    // The panel around the sheet, with the sheet filling it (cols columns, rows rows); with a
    // valid sheetGeometry the sheet is placed there instead, leaving room for column heads.
    void addSheet(const QString& title, const QRect& geometry, int cols, int rows,
                  const QRect& sheetGeometry = QRect());
    // The "Üzenetek" panel with the status line (normal weight), then the frame buttons.
    void addMessagesAndButtons(const QRect& geometry);

  private:
    CVCF1* m_sheet = nullptr;
    CzCThreeDPanel* m_sheetPanel = nullptr;
    CzCThreeDPanel* m_messagePanel = nullptr;
};

// "Szerkesztök / Felhasználói csoportok": the group list.
class UserGroupsPage : public EditorPage {
    Q_OBJECT
  public:
    UserGroupsPage(const PageEntry& entry, QWidget* parent);
};

// "Szerkesztök / Felhasználók": the proxy users and the selected user's data.
class UsersPage : public EditorPage {
    Q_OBJECT
  public:
    UsersPage(const PageEntry& entry, QWidget* parent);
    CzCThreeDPanel* dataPanel() const { return m_dataPanel; }

  private:
    CzCThreeDPanel* m_dataPanel;
};

// "Szerkesztök / URL kontroll": the permit list of one group.
class UrlControlPage : public EditorPage {
    Q_OBJECT
  public:
    UrlControlPage(const PageEntry& entry, QWidget* parent);
    CzCThreeDPanel* groupPanel() const { return m_groupPanel; }

  private:
    CzCThreeDPanel* m_groupPanel;
};
