// The editor pages' shared frame and their viewing/editing state machine.
#include "pages/editors/editor_page.h"

#include <QByteArray>
#include <QLabel>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/remote_runner.h"
#include "app/sheet_printing.h"
#include "app/status_label.h"
#include "app/text_file_dialogs.h"
#include "lib/vx_err.h"
#include "serverdata/server_data.h"
#include "widgets/buttons.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"
#include "widgets/waitcursor.h"

QString EditorResultText(int result) {
    return QString::fromUtf8(SdResultText(result));
}

EditorPage::EditorPage(const PageEntry& entry, SdList list, const Texts& texts, QWidget* parent)
    : FramePage(entry, parent), m_texts(texts), m_list(list) {}

EditorPage::~EditorPage() {
    RemoteRunner* runner = RemoteRunner::instance();
    // The worker may be using this page's session: it ends (cancelled where it may be) before
    // the session goes.
    if (m_running) runner->cancelAndWait();
    // An edit still open drops its locks on the worker too, behind whatever runs there.
    if (m_session.IsOpen()) runner->runBlocking([this] { m_session.Abandon(); });
}

void EditorPage::runRemote(std::function<int()> work, std::function<void(int)> done,
                           bool cancellable) {
    auto result = std::make_shared<int>(SD_SERVER);
    setRunning(true);
    RemoteRunner::instance()->run(
        this, [work = std::move(work), result] { *result = work(); },
        [this, done = std::move(done), result] {
            setRunning(false);
            done(*result);
        },
        cancellable ? RemoteRunner::Cancel::Allowed : RemoteRunner::Cancel::Never);
}

void EditorPage::setRunning(bool running) {
    m_running = running;
    if (running)
        m_wait = std::make_unique<WaitCursor>();
    else
        m_wait.reset();
    updateButtons();
    runningChanged(running);
}

void EditorPage::addSheet(const QString& title, const QRect& geometry, int cols, int rows,
                          const QRect& sheetGeometry) {
    m_sheetPanel = addPanel(title, geometry);
    m_sheetPanel->setObjectName(QStringLiteral("sheetPanel"));
    m_sheet = new CVCF1(this);
    m_sheet->setObjectName(QStringLiteral("sheet"));
    m_sheet->SetMaxCol(cols);
    m_sheet->SetMaxRow(rows);
    if (sheetGeometry.isValid()) {
        m_sheet->setGeometry(sheetGeometry);
        m_sheet->raise();
    } else {
        m_sheetPanel->SetWidget(m_sheet);
    }
}

void EditorPage::addMessagesAndButtons(const QRect& geometry) {
    m_messagePanel = addPanel(QStringLiteral("Üzenetek"), geometry);
    m_messagePanel->setObjectName(QStringLiteral("messagePanel"));
    addStatusLabel(QRect(), QString(), false, m_messagePanel);
    // The cause of a failure, in a small line along the bottom of the status line.
    const QRect content = m_messagePanel->ContentRect();
    m_detail = new QLabel(m_messagePanel);
    m_detail->setObjectName(QStringLiteral("statusDetail"));
    m_detail->setFont(QFont(QStringLiteral("Arial"), 8));
    m_detail->setAlignment(Qt::AlignCenter);
    m_detail->setGeometry(content.x() + 2, content.bottom() - 13, content.width() - 4, 13);
    m_detail->setAttribute(Qt::WA_TransparentForMouseEvents);
    m_detail->hide();
    addFrameButtons();
    connect(this, &FramePage::printRequested, this, &EditorPage::print);
}

void EditorPage::addEditButtons(const ButtonPlace (&places)[5]) {
    const QColor grey(150, 150, 150), red(230, 90, 80), teal(80, 130, 130);
    const struct {
        Button which;
        ButtonPlace place;
        const char* text;
        QColor colour;
    } buttons[ButtonCount] = {
        {Add, places[0], "&Hozzáad", grey},
        {Change, places[1], "&Módosít", grey},
        {Delete, places[2], "&Töröl", red},
        {Import, places[3], "&Import", grey},
        {Export, places[4], "&Export", grey},
        {Load, {ID_LOAD_BUTTON, 125, 385, 110, 40}, "&Behívás", grey},
        {Save, {ID_SAVE_BUTTON, 245, 385, 110, 40}, "&Mentés", grey},
        {Abandon, {ID_ABANDON_BUTTON, 365, 385, 110, 40}, "Visszavon", teal},
    };
    void (EditorPage::*const actions[ButtonCount])() = {
        &EditorPage::addEntry,   &EditorPage::changeEntry, &EditorPage::deleteEntry,
        &EditorPage::importFile, &EditorPage::exportFile,  &EditorPage::loadForEditing,
        &EditorPage::save,       &EditorPage::abandon,
    };
    for (const auto& b : buttons) {
        auto* button = new RoundButton(this);
        button->setObjectName(QStringLiteral("button%1").arg(b.place.id));
        SetupActionButton(button, b.place.x, b.place.y, b.place.w, b.place.h,
                          QString::fromUtf8(b.text), Qt::black, b.colour, 8, 4);
        auto action = actions[b.which];
        connect(button, &RoundButton::clicked, this, [this, action] { (this->*action)(); });
        m_buttons[b.which] = button;
    }
    updateButtons();
}

QString EditorPage::statusText() const {
    return statusLabel() ? statusLabel()->text() : QString();
}

QString EditorPage::statusDetail() const {
    return statusLabel() ? statusLabel()->toolTip() : QString();
}

void EditorPage::setStatus(const QString& text) {
    if (!statusLabel()) return;
    statusLabel()->setStatusText(text);
    statusLabel()->setToolTip(QString());
    if (m_detail) m_detail->hide();
}

void EditorPage::setFailure(const QString& text) {
    const QString cause = QString::fromUtf8(vxLastError().text);
    setStatus(text);
    if (!statusLabel() || cause.isEmpty()) return;
    statusLabel()->setToolTip(cause);
    if (!m_detail) return;
    // The end of a cause says why (the failing command's own message): a long one loses its start.
    m_detail->setText(m_detail->fontMetrics().elidedText(cause, Qt::ElideLeft, m_detail->width()));
    m_detail->show();
    m_detail->raise();
}

void EditorPage::command(int id, quintptr param) {
    Page::command(id, param);
    if (id == CMD_PAGE_SHOWN) pageShown();
}

void EditorPage::applyAccess(bool allowed) {
    m_allowed = allowed;
    updateButtons();
}

void EditorPage::setEditing(bool on) {
    m_editing = on;
    updateButtons();
    editingChanged(on);
}

void EditorPage::updateButtons() {
    for (int b = 0; b < ButtonCount; b++)
        if (m_buttons[b])
            m_buttons[b]->setEnabled(!m_running &&
                                     (b == Load ? m_allowed && !m_editing : m_editing));
}

void EditorPage::loadForEditing() {
    if (m_editing || m_running || !editingAllowed()) return;
    clearStatus();
    setStatus(m_texts.loading);
    const int group = editGroup();
    runRemote(
        [this, group] {
            // An abandon whose release failed left the locks held: they are released before a
            // new edit.
            if (m_session.IsOpen() && m_session.Abandon() < 0) return int(SD_SERVER);
            return int(m_session.Begin(m_list, group));
        },
        [this](int rc) { loaded(rc); });
}

void EditorPage::loaded(int rc) {
    if (rc < 0 || (rc == SD_NOTHING && !m_texts.loadNothing.isEmpty())) {
        switch (rc) {
        case SD_NOTHING:
            setStatus(m_texts.loadNothing);
            break;
        case SD_CONCURRENT:
            setFailure(m_texts.loadConcurrent);
            break;
        case SD_LOCAL:
            setFailure(m_texts.loadLocal);
            break;
        default:
            setFailure(m_texts.loadServer);
        }
        return;
    }
    setStatus(QStringLiteral("OK !"));
    showEditing();
    setEditing(true);
    sendToMain(CMD_LOCK_TREE);
}

void EditorPage::save() {
    if (!m_editing || m_running) return;
    {
        WaitCursor wait;
        if (!m_texts.saving.isEmpty()) setStatus(m_texts.saving);
        if (!prepareSave()) return;
    }
    runRemote([this] { return int(m_session.Commit()); }, [this](int rc) { saved(rc); }, false);
}

void EditorPage::saved(int rc) {
    committed(rc);
    if (rc < 0) {
        setFailure(rc == SD_LOCAL ? m_texts.saveLocal : m_texts.saveServer);
        return;
    }
    setStatus(QStringLiteral("OK !"));
    setEditing(false);
    showViewing();
    sendToMain(CMD_UNLOCK_TREE);
}

void EditorPage::abandon() {
    if (!m_editing || m_running) return;
    clearStatus();
    runRemote([this] { return int(m_session.Abandon()); },
              [this](int rc) {
                  if (rc < 0 && !m_texts.releaseFailed.isEmpty()) setStatus(m_texts.releaseFailed);
                  setEditing(false);
                  showViewing();
                  sendToMain(CMD_UNLOCK_TREE);
              });
}

void EditorPage::importFile() {
    if (!m_editing || m_running) return;
    clearStatus();
    QString path;
    if (AskOpenTextFile(this, &path) != 0) {
        // A cancelled import marks the list modified, as a successful one does, and the users
        // and URL pages refill their controls from the table. The groups page keeps its sheet:
        // the group edits live there until a save (and the group list has no modified flag).
        m_session.MarkModified();
        if (m_session.List() != SdList::Groups) showImported();
        return;
    }
    const int before = entryCount();
    runRemote(
        [this, local = path.toLocal8Bit()] { return int(m_session.Import(local.constData())); },
        [this, before](int rc) { imported(rc, before); });
}

void EditorPage::imported(int rc, int before) {
    // A failed import may have added the lines before the one that stopped it; those are in the
    // table and will be saved, so the controls show them too.
    bool changed = entryCount() != before;
    setStatus(rc < 0 ? QStringLiteral("File olvasási hiba !") : QStringLiteral("OK !"));
    if (rc < 0 && !changed) return;
    if (rc < 0) m_session.MarkModified(); // a successful import marked the list itself
    showImported();
}

void EditorPage::exportFile() {
    if (!m_editing) return;
    clearStatus();
    QString path;
    if (AskSaveTextFile(this, &path) != 0) return;
    WaitCursor wait;
    QByteArray local = path.toLocal8Bit();
    setStatus(exportTo(local.constData()) < 0 ? QStringLiteral("File írási hiba '")
                                              : m_texts.exportDone);
}

void EditorPage::print() {
    QByteArray title = m_texts.printTitle.toUtf8();
    PrintSheet(m_sheet, 1, 1, m_sheet->GetMaxRow(), m_sheet->GetMaxCol(), title.constData(),
               nullptr);
}
