// "Szerkesztök / Felhasználói csoportok": the group list and the kind of each group's URL list.
#pragma once

#include <QByteArray>
#include <QVector>

#include "pages/editors/editor_page.h"

class QListWidget;

class UserGroupsPage : public EditorPage {
    Q_OBJECT
  public:
    static constexpr int ID_ADD = 1029, ID_CHANGE = 1031, ID_DELETE = 1033;
    static constexpr int MIN_ROWS = 11;

    UserGroupsPage(const PageEntry& entry, QWidget* parent);

    QListWidget* nameList() const { return m_names; }

    // The kind texts, and the text of a group kind ("d...": deny list, anything else: allow).
    static QString kindText(const char* kind);
    static QString allowText();
    static QString denyText();

    // Loads the groups for viewing and fills the table in one style.
    void loadForViewing();

    void addEntry() override;
    void changeEntry() override;
    void deleteEntry() override;

  protected:
    int exportTo(const char* path) override;
    void committed(int result) override;
    void showEditing() override;
    void showViewing() override;
    bool prepareSave() override;
    void showImported() override;
    int entryCount() const override;

  private:
    void fill(bool colours);
    void writeRow(long row, const QByteArray& name, bool allow);
    QByteArray rowName(long row) const;
    long selectedRow() const; // 0 when the selection holds no group
    void updateNames();
    // Refusal of a name for the row (0: a new row); "" when it may be stored.
    QString nameRefusal(const QByteArray& name, long row) const;

    QListWidget* m_names;
    // For each row, the index in the group table of the group it was filled from (-1 for a
    // row added since), so members follow their group through renames and saves.
    QVector<int> m_origin;
};
