// "Szerkesztök / URL kontroll": the allow or deny list of one group at a time.
#pragma once

#include "pages/editors/editor_page.h"

class QComboBox;
class QLabel;

class UrlControlPage : public EditorPage {
    Q_OBJECT
  public:
    static constexpr int ID_ADD = 1005, ID_CHANGE = 1008, ID_DELETE = 1017;
    static constexpr int MIN_ROWS = 12;

    UrlControlPage(const PageEntry& entry, QWidget* parent);

    CzCThreeDPanel* groupPanel() const { return m_groupPanel; }
    QComboBox* groupSelector() const { return m_groups; }
    QLabel* kindLabel() const { return m_kind; }

    // Makes group the current one (as a choice in the selector does) and loads its list for
    // viewing.
    void chooseGroup(int group);
    // Loads the current group's list for viewing and fills the table.
    void loadForViewing();
    // Fills the sheet from the URL table (at least 12 rows).
    void fill();

    void addEntry() override;
    void changeEntry() override;
    void deleteEntry() override;

  protected:
    int exportTo(const char* path) override;
    int editGroup() const override;
    void showEditing() override;
    void showViewing() override;
    bool prepareSave() override;
    void showImported() override;
    int entryCount() const override;
    void editingChanged(bool on) override;
    void runningChanged(bool on) override;
    void pageShown() override;

  private:
    void fillGroups();
    void updateKind();
    // Asks for a URL in the text dialog until it is accepted or cancelled; row is the row
    // being changed (0: a new one). Empty when cancelled or left empty.
    QString askUrl(const QString& title, const QString& preset, long row);

    CzCThreeDPanel* m_groupPanel;
    QComboBox* m_groups;
    QLabel* m_kind;
    bool m_filling = false;
};
