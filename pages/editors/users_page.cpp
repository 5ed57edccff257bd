// The users page: the user table as a sheet with a mirrored name list, the selected user's data,
// and the user data dialog for adding and changing users.
#include "pages/editors/users_page.h"

#include <algorithm>

#include <QApplication>
#include <QHeaderView>
#include <QListWidget>
#include <QPointer>

#include "app/commands.h"
#include "app/remote_runner.h"
#include "lib/vx_err.h"
#include "pages/editors/editor_dialogs.h"
#include "params/def.h"
#include "serverdata/sd_host.h"
#include "serverdata/server_data.h"
#include "widgets/cp1250.h"
#include "widgets/gridctrl.h"
#include "widgets/messagebox.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"
#include "widgets/waitcursor.h"

namespace {

const EditorPage::Texts USERS_TEXTS = {
    .loading = QStringLiteral("Behívás"),
    .loadConcurrent = QStringLiteral("Konkurens használat !"),
    .loadServer = QStringLiteral("Hiba a proxy szerveren !"),
    .loadLocal = QStringLiteral("Lokális file kezelési hiba !"),
    .loadNothing = {}, // none
    .saving = {},      // none
    .saveLocal = QStringLiteral("Lokalis file kezelési hiba !"),
    .saveServer = QStringLiteral("Hiba a proxy szerveren !"),
    .releaseFailed = QStringLiteral("Távoli hiba !!"),
    .exportDone = QStringLiteral("OK !"),
    .printTitle = QStringLiteral("Felhasznalok"),
};

const char* const DATA_LABELS[6] = {
    "Teljes név:", "Telefonszám:", "Szoba szám:", "Munkah. tel.:", "Email:", "Megjegyzés:"};

const QString DUPLICATE_USER = QStringLiteral("A user már szerepel a listában");

// The user data dialog's password change: through the server's crypt, on the remote worker. The
// dialog that asked is greyed until the answer is back.
UserDataDialog::PasswordChange passwordChange() {
    return [](const char* oldPlain, const char* newPlain, char* encrypted, size_t size) {
        QPointer<QWidget> asking = QApplication::activeModalWidget();
        if (asking) asking->setEnabled(false);
        WaitCursor wait;
        int rc = -1;
        RemoteRunner::instance()->runAndWait(
            [&] { rc = serverData.passwords.Change(oldPlain, newPlain, encrypted, size); });
        if (asking) asking->setEnabled(true);
        return rc;
    };
}

} // namespace

UsersPage::UsersPage(const PageEntry& entry, QWidget* parent)
    : EditorPage(entry, SdList::Users, USERS_TEXTS, parent) {
    addSheet(QStringLiteral("        Név                       Csoport       P  M  S "),
             QRect(5, 5, 300, 370), 5, MIN_ROWS);
    widenHeads();
    // The name list lies outside the visible area; it keeps the names and the selection.
    m_names = new QListWidget(this);
    m_names->setObjectName(QStringLiteral("nameList"));
    m_names->setGeometry(1115, 5, 100, 100);

    m_dataPanel = addPanel(QStringLiteral("A felhasználó adatok"), QRect(310, 5, 295, 200));
    m_dataPanel->setObjectName(QStringLiteral("dataPanel"));
    m_data = new GridCtrl;
    m_data->setObjectName(QStringLiteral("dataGrid"));
    m_dataPanel->SetWidget(m_data);
    m_data->SetNumberCols(2);
    m_data->SetNumberRows(6);
    m_data->SetSH_Width(0);
    m_data->SetTH_Height(0);
    m_data->SetColWidth(0, 95);
    m_data->SetColWidth(1, 185);
    m_data->UseHints(false);
    for (int row = 0; row < 6; row++) {
        m_data->QuickSetText(0, row, QString::fromUtf8(DATA_LABELS[row]));
        m_data->QuickSetReadOnly(0, row, true);
        m_data->QuickSetReadOnly(1, row, true);
    }

    addMessagesAndButtons(QRect(310, 290, 295, 85));
    addEditButtons({{ID_ADD, 315, 210, 90, 35},
                    {ID_CHANGE, 415, 210, 90, 35},
                    {ID_DELETE, 415, 245, 90, 35},
                    {ID_IMPORT_BUTTON, 515, 210, 90, 35},
                    {ID_EXPORT_BUTTON, 515, 245, 90, 35}});

    // While a load runs the worker fills the user table: the selection waits for its outcome.
    connect(sheet(), &QTableWidget::currentCellChanged, this, [this](int row, int, int, int) {
        if (m_syncing || running()) return;
        m_syncing = true;
        m_names->setCurrentRow(row < serverData.users.Count() ? row : -1);
        m_syncing = false;
        showUser(row);
    });
    connect(sheet(), &QTableWidget::cellClicked, this, [this](int row, int) {
        if (!running()) showUser(row);
    });
    connect(m_names, &QListWidget::currentRowChanged, this, [this](int row) {
        if (m_syncing || running() || row < 0) return;
        selectUser(row);
    });

    fillTable(-1);
    if (sdServerUsable()) loadForViewing();
}

QString UsersPage::mailAddress(const UserRecord& user) {
    const char* domain = vxGetParam("MAIL_NAME_2");
    QString address = fromCp1250(user.mailName);
    if (domain && user.mailName[0]) address += fromCp1250(domain);
    return address;
}

int UsersPage::selectedIndex() const {
    long row = sheet()->GetSelStartRow();
    return row >= 1 && row <= serverData.users.Count() ? static_cast<int>(row - 1) : -1;
}

void UsersPage::widenHeads() {
    CzCThreeDPanel* panel = sheetPanel();
    // The sheet keeps the font it has; only the title grows.
    sheet()->setFont(QApplication::font(sheet()));
    const QString title = panel->GetTitle();
    const int room = panel->width() - 2 * CzCThreeDPanel::kTitleX;
    QFont font = panel->font();
    for (QFont larger = font; larger.pointSizeF() < 20;) {
        larger.setPointSizeF(larger.pointSizeF() + 0.5);
        if (QFontMetrics(larger).horizontalAdvance(title) > room) break;
        font = larger;
    }
    panel->setFont(font);
}

QList<int> UsersPage::columnTwips() const {
    constexpr int TWIPS = 15, NAME = 1500, RIGHT = 300;
    const CzCThreeDPanel* panel = sheetPanel();
    const QString title = panel->GetTitle();
    const QFontMetrics metrics(panel->font());
    // The centre of a head letter, in the panel's pixels (the title is drawn from
    // CzCThreeDPanel::kTitleX).
    auto centre = [&](QChar letter) {
        const qsizetype at = title.lastIndexOf(letter);
        return CzCThreeDPanel::kTitleX + metrics.horizontalAdvance(title.left(at)) +
               metrics.horizontalAdvance(letter) / 2;
    };
    const int step = centre(QLatin1Char('M')) - centre(QLatin1Char('P'));
    const CVCF1* s = sheet();
    const int firstColumn = s->x() + s->frameWidth() + s->verticalHeader()->sizeHint().width();
    const int group = centre(QLatin1Char('P')) - step / 2 - firstColumn - NAME / TWIPS;
    // A font that leaves no room keeps the fixed widths.
    if (step <= 0 || group * TWIPS < RIGHT) return {NAME, 1400, RIGHT, RIGHT, RIGHT};
    return {NAME, group * TWIPS, step * TWIPS, step * TWIPS, step * TWIPS};
}

void UsersPage::selectUser(int index) {
    if (index < 0 || index >= serverData.users.Count()) return;
    sheet()->SetSelection(index + 1, 1, index + 1, 5);
    sheet()->setCurrentCell(index, 0);
    m_syncing = true;
    m_names->setCurrentRow(index);
    m_syncing = false;
    showUser(index);
}

void UsersPage::fillTable(int selectIndex) {
    const int count = serverData.users.Count();
    CVCF1* s = sheet();
    m_syncing = true;
    m_names->clear();
    s->SetupEditorSheet(5, std::max(count, MIN_ROWS), columnTwips(), 280,
                        QFont(QStringLiteral("Arial"), 10), QColor(0, 0, 255));
    s->SetRepaint(false);
    QStringList names;
    names.reserve(count);
    for (int i = 0; i < count; i++) {
        const UserRecord& u = serverData.users[i];
        QString name = fromCp1250(u.name);
        names << name;
        s->SetTextRC(i + 1, 1, name);
        if (u.group >= 0 && u.group < serverData.groups.Count())
            s->SetTextRC(i + 1, 2, fromCp1250(serverData.groups[u.group].name));
        if (u.proxy) s->SetTextRC(i + 1, 3, QStringLiteral("X"));
        if (u.mail) s->SetTextRC(i + 1, 4, QStringLiteral("X"));
        if (u.super) s->SetTextRC(i + 1, 5, QStringLiteral("X"));
    }
    m_names->addItems(names);
    s->SetRepaint(true);
    m_syncing = false;
    if (selectIndex >= 0 && selectIndex < count)
        selectUser(selectIndex);
    else
        clearData();
}

void UsersPage::showUser(int index) {
    if (index < 0 || index >= serverData.users.Count()) {
        clearData();
        return;
    }
    const UserRecord& u = serverData.users[index];
    const QString values[6] = {fromCp1250(u.fullName),  fromCp1250(u.phone), fromCp1250(u.room),
                               fromCp1250(u.workPhone), mailAddress(u),      fromCp1250(u.comment)};
    for (int row = 0; row < 6; row++)
        m_data->QuickSetText(1, row, values[row]);
    m_data->RedrawAll();
}

void UsersPage::clearData() {
    for (int row = 0; row < 6; row++)
        m_data->QuickSetText(1, row, QString());
    m_data->RedrawAll();
}

void UsersPage::loadForViewing() {
    runRemote([] { return serverData.users.Load(false); },
              [this](int rc) {
                  if (rc < 0) {
                      setStatus(EditorResultText(rc));
                      return;
                  }
                  fillTable(0);
              });
}

void UsersPage::pageShown() {
    // Group names may have changed on the groups page since the table was filled (a load that
    // runs fills it when it is done).
    if (!editing() && !running()) fillTable(std::max(selectedIndex(), 0));
}

int UsersPage::exportTo(const char* path) {
    return serverData.users.Export(path);
}

int UsersPage::entryCount() const {
    return serverData.users.Count();
}

void UsersPage::showEditing() {
    fillTable(0);
}

void UsersPage::showViewing() {
    sheet()->ClearSheet();
    clearData();
    if (sdServerUsable()) loadForViewing();
}

void UsersPage::showImported() {
    fillTable(0);
}

void UsersPage::addEntry() {
    if (!editing()) return;
    clearStatus();
    UserDataDialog dialog(passwordChange(), this);
    dialog.setRecord(UserDataDialog::NewUser, UserRecord{}, "");
    dialog.setCheck([](const UserRecord& r) {
        if (serverData.users.Find(r.name) >= 0) return DUPLICATE_USER;
        if (serverData.users.Count() >= SD_MAX_USERS)
            return QStringLiteral("Legfeljebb 1000 felhasználó lehet !");
        return QString();
    });
    if (dialog.exec() != QDialog::Accepted) return;
    int index = serverData.users.Add(dialog.record());
    if (index < 0) { // the dialog checked the record; this is the data layer's own refusal
        setStatus(QString::fromUtf8(vxLastError().text));
        return;
    }
    fillTable(index);
}

void UsersPage::changeEntry() {
    if (!editing()) return;
    clearStatus();
    int index = selectedIndex();
    if (index < 0) return;
    UserDataDialog dialog(passwordChange(), this);
    const UserRecord& current = serverData.users[index];
    dialog.setRecord(UserDataDialog::ModifyUser, current, current.password);
    dialog.setCheck([index](const UserRecord& r) {
        int other = serverData.users.Find(r.name);
        return other >= 0 && other != index ? DUPLICATE_USER : QString();
    });
    if (dialog.exec() != QDialog::Accepted) return;
    if (serverData.users.Set(index, dialog.record()) < 0) {
        setStatus(QString::fromUtf8(vxLastError().text));
        return;
    }
    fillTable(index);
}

void UsersPage::deleteEntry() {
    if (!editing()) return;
    clearStatus();
    int index = selectedIndex();
    if (index < 0) return;
    if (MessageBox::critical(this, QStringLiteral("Figyelem!"),
                             QStringLiteral("Törlés következik! \nRENDBEN !?"),
                             MessageBox::OkCancel) != MessageBox::Ok)
        return;
    serverData.users.Delete(index);
    // The next user (or the new last one) is selected, with its data beside it.
    fillTable(std::min(index, serverData.users.Count() - 1));
}
