// What the three editor pages share: the sheet in its panel, the message panel, the edit buttons
// and the viewing/editing state machine behind "&Behívás", "&Mentés", "Visszavon", "&Import" and
// "&Export". Each page says only what differs: its texts, its buttons' places and what it does
// with the server and its controls.
#pragma once

#include <functional>
#include <memory>

#include <QString>

#include "pages/frame_page.h"
#include "serverdata/edit_session.h"

class CVCF1;
class QLabel;
class CzCThreeDPanel;
class RoundButton;
class WaitCursor;

// Control ids of the buttons every editor page has at the same id.
constexpr int ID_IMPORT_BUTTON = 1080;
constexpr int ID_EXPORT_BUTTON = 1081;
constexpr int ID_LOAD_BUTTON = 1019;
constexpr int ID_SAVE_BUTTON = 1021;
constexpr int ID_ABANDON_BUTTON = 1503;

// The status text of a result of the data layer.
QString EditorResultText(int result);

class EditorPage : public FramePage {
    Q_OBJECT
  public:
    enum Button { Add, Change, Delete, Import, Export, Load, Save, Abandon, ButtonCount };

    // Where a page puts one of its buttons (pixels).
    struct ButtonPlace {
        int id, x, y, w, h;
    };

    // The texts a page shows for the outcomes of the shared steps.
    struct Texts {
        QString loading;        // before the load for editing
        QString loadConcurrent; // load results -3, -1, -2
        QString loadServer;
        QString loadLocal;
        QString loadNothing; // result 0 of a load that can find nothing to load ("" none)
        QString saving;      // before the save ("" none)
        QString saveLocal;   // save result -2; any other negative result: saveServer
        QString saveServer;
        QString releaseFailed; // a failed release on "Visszavon" ("" none)
        QString exportDone;    // a written export
        QString printTitle;
    };

    CVCF1* sheet() const { return m_sheet; }
    CzCThreeDPanel* sheetPanel() const { return m_sheetPanel; }
    CzCThreeDPanel* messagePanel() const { return m_messagePanel; }
    RoundButton* button(Button b) const { return m_buttons[b]; }
    bool editing() const { return m_editing; }
    // Whether an operation of the page is on the remote worker (its outcome not shown yet).
    bool running() const { return m_running; }
    QString statusText() const;
    // The recorded cause of the failure the status line reports ("" none): the line under it
    // and the status line's tool tip.
    QString statusDetail() const;

    // CMD_PAGE_SHOWN applies the access rule and lets the page bring its view up to date.
    void command(int id, quintptr param = 0) override;
    // "&Behívás" is enabled only with the access granted and in viewing.
    void applyAccess(bool allowed) override;

    // The steps behind the buttons (a click runs the same).
    void loadForEditing();
    void save();
    void abandon();
    void importFile();
    void exportFile();
    virtual void addEntry() = 0;
    virtual void changeEntry() = 0;
    virtual void deleteEntry() = 0;
    // Prints the sheet under the page's title.
    void print();

  protected:
    // A page editing `list` through its own edit session.
    EditorPage(const PageEntry& entry, SdList list, const Texts& texts, QWidget* parent);
    ~EditorPage() override;

    // Runs work (which talks to the server and fills the tables) on the console's remote
    // worker; its result goes to done on the UI thread. Meanwhile the page shows the wait
    // cursor and its buttons are locked (the page tree is locked by the worker's busy state).
    // A save passes cancellable false: nothing ends it half way.
    void runRemote(std::function<int()> work, std::function<void(int)> done,
                   bool cancellable = true);

    // The panel around the sheet, with the sheet filling it (cols columns, rows rows); with a
    // valid sheetGeometry the sheet is placed there instead, leaving room for column heads.
    void addSheet(const QString& title, const QRect& geometry, int cols, int rows,
                  const QRect& sheetGeometry = QRect());
    // The "Üzenetek" panel with the status line (normal weight), then help and print.
    void addMessagesAndButtons(const QRect& geometry);
    // The eight edit buttons: "&Hozzáad", "&Módosít", "&Töröl", "&Import" and "&Export" at the
    // page's places (ids included), "&Behívás", "&Mentés" and "Visszavon" at their common ones.
    void addEditButtons(const ButtonPlace (&places)[5]);

    void setStatus(const QString& text);
    void clearStatus() { setStatus(QString()); }
    // The status text of a failure, with the recorded cause (vxLastError) as its detail.
    void setFailure(const QString& text);

    // The group whose list an edit of the URL list checks out (-1 for the other lists).
    virtual int editGroup() const { return -1; }
    // Writes the list's export file: 1, or -2.
    virtual int exportTo(const char* path) = 0;
    // After a commit attempt (saved or not): the page may resync its controls with the table.
    virtual void committed(int) {}

    // What the page does with its controls.
    virtual void showEditing() = 0;             // fill after a load for editing
    virtual void showViewing() = 0;             // load for viewing and fill
    virtual bool prepareSave() { return true; } // table from the controls; false stops the save
    // After an import that went into the table (a failed one only when it added lines before it
    // stopped; the list is then marked modified as well): the page shows the table.
    virtual void showImported() = 0;
    virtual int entryCount() const = 0; // size of the table an import adds to
    virtual void editingChanged(bool) {}
    // While an operation runs, the page's own controls that start one are locked as well.
    virtual void runningChanged(bool) {}
    virtual void pageShown() {}

    // Sets the state and the buttons' enabling.
    void setEditing(bool on);

  private:
    void updateButtons();
    void setRunning(bool running);
    void loaded(int rc);
    void saved(int rc);
    void imported(int rc, int before);

    Texts m_texts;
    SdList m_list;
    EditSession m_session;
    CVCF1* m_sheet = nullptr;
    CzCThreeDPanel* m_sheetPanel = nullptr;
    CzCThreeDPanel* m_messagePanel = nullptr;
    QLabel* m_detail = nullptr;
    RoundButton* m_buttons[ButtonCount] = {};
    bool m_editing = false;
    bool m_allowed = false;
    bool m_running = false;
    std::unique_ptr<WaitCursor> m_wait;
};
