// "Szerkesztök / Felhasználók": the proxy users, the selected user's data, and their editing.
#pragma once

#include "pages/editors/editor_page.h"

class GridCtrl;
class QListWidget;
struct UserRecord;

class UsersPage : public EditorPage {
    Q_OBJECT
  public:
    // Button ids of this page's own buttons.
    static constexpr int ID_ADD = 1005, ID_CHANGE = 1008, ID_DELETE = 1017;
    static constexpr int MIN_ROWS = 12;

    UsersPage(const PageEntry& entry, QWidget* parent);

    CzCThreeDPanel* dataPanel() const { return m_dataPanel; }
    GridCtrl* dataGrid() const { return m_data; }
    QListWidget* nameList() const { return m_names; }

    // The index of the user in the selected row; -1 when the row holds no user.
    int selectedIndex() const;
    // Selects the user's row (the data grid follows).
    void selectUser(int index);

    // Loads the users for viewing and fills the table (reporting a failure on the status line).
    void loadForViewing();
    // Fills the sheet and the name list from the user table and selects the user at
    // selectIndex (none when out of range).
    void fillTable(int selectIndex);

    void addEntry() override;
    void changeEntry() override;
    void deleteEntry() override;

    // The e-mail address shown for a user: the e-mail name followed by "MAIL_NAME_2".
    static QString mailAddress(const UserRecord& user);

  protected:
    int exportTo(const char* path) override;
    void showEditing() override;
    void showViewing() override;
    void showImported() override;
    int entryCount() const override;
    void pageShown() override;

    // The sheet's column widths in twips: the heads in the panel's title ("P  M  S") stand over
    // their columns, and the group column takes the room left of them.
    QList<int> columnTwips() const;

  private:
    void showUser(int index);
    void clearData();
    // Draws the panel's title, which is the sheet's column head, as wide as the panel allows.
    void widenHeads();

    CzCThreeDPanel* m_dataPanel;
    GridCtrl* m_data;
    QListWidget* m_names;
    bool m_syncing = false;
};
