// The user groups page: the group table as a two-column sheet, edited in the sheet and turned
// back into the group table when saved.
#include "pages/editors/user_groups_page.h"

#include <algorithm>
#include <string>

#include <QListWidget>

#include "app/commands.h"
#include "pages/editors/editor_dialogs.h"
#include "pages/editors/refusal_texts.h"
#include "serverdata/sd_host.h"
#include "serverdata/server_data.h"
#include "widgets/cp1250.h"
#include "widgets/messagebox.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"

namespace {

const EditorPage::Texts GROUPS_TEXTS = {
    .loading = QStringLiteral("Behívás ..."),
    .loadConcurrent = QStringLiteral("Konkurens használat"),
    .loadServer = QStringLiteral("Hiba a proxy szerveren !"),
    .loadLocal = QStringLiteral("Lokalis file olvasasi hiba !"),
    .loadNothing = {}, // none
    .saving = QStringLiteral("Mentés ..."),
    .saveLocal = QStringLiteral("Lokalis file kezelési hiba !"),
    .saveServer = QStringLiteral("Hiba a proxy szerveren !"),
    .releaseFailed = QStringLiteral("Távoli hiba !!"),
    .exportDone = QStringLiteral("OK '"),
    .printTitle = QStringLiteral("Felhasznaloi Csoportok"),
};

const QColor ALLOW_COLOUR(0, 155, 0);
const QColor DENY_COLOUR(155, 0, 0);

QByteArray bytesOf(const QString& text) {
    std::string out;
    if (!toCp1250(text, out)) return {};
    return QByteArray(out.data(), static_cast<qsizetype>(out.size()));
}

} // namespace

QString UserGroupsPage::allowText() {
    return QStringLiteral("Engedélyezö lista");
}

QString UserGroupsPage::denyText() {
    return QStringLiteral("Tiltó lista");
}

QString UserGroupsPage::kindText(const char* kind) {
    return kind[0] == 'd' ? denyText() : allowText();
}

UserGroupsPage::UserGroupsPage(const PageEntry& entry, QWidget* parent)
    : EditorPage(entry, SdList::Groups, GROUPS_TEXTS, parent) {
    // The column header panels stand between the panel's title band and the sheet.
    addSheet(QStringLiteral("Felhasználói csoportok"), QRect(5, 5, 445, 300), 2, MIN_ROWS,
             QRect(10, 50, 435, 250));
    auto* nameHeader = addPanel(QStringLiteral("Csoport név"), QRect(10, 27, 216, 22));
    auto* kindHeader = addPanel(allowText(), QRect(228, 27, 217, 22));
    nameHeader->setObjectName(QStringLiteral("nameHeader"));
    kindHeader->setObjectName(QStringLiteral("kindHeader"));
    m_names = new QListWidget(this);
    m_names->setObjectName(QStringLiteral("nameList"));
    m_names->setGeometry(1115, 5, 100, 100);
    addMessagesAndButtons(QRect(5, 310, 445, 65));
    addEditButtons({{ID_ADD, 460, 60, 90, 35},
                    {ID_CHANGE, 460, 95, 90, 35},
                    {ID_DELETE, 460, 130, 90, 35},
                    {ID_IMPORT_BUTTON, 460, 200, 90, 35},
                    {ID_EXPORT_BUTTON, 460, 235, 90, 35}});
    fill(false);
    if (sdServerUsable()) loadForViewing();
}

void UserGroupsPage::fill(bool colours) {
    const int count = serverData.groups.Count();
    CVCF1* s = sheet();
    s->SetupEditorSheet(2, std::max(count, MIN_ROWS), {3150, 3150}, 280,
                        QFont(QStringLiteral("Arial"), 10), QColor(0, 0, 0));
    s->SetRepaint(false);
    m_origin.clear();
    for (int i = 0; i < count; i++) {
        const GroupRecord& g = serverData.groups[i];
        s->SetTextRC(i + 1, 1, fromCp1250(g.name));
        s->SetTextRC(i + 1, 2, kindText(g.kind));
        if (colours) s->SetTextColorRC(i + 1, 2, g.kind[0] == 'd' ? DENY_COLOUR : ALLOW_COLOUR);
        m_origin.append(i);
    }
    s->SetRepaint(true);
    updateNames();
}

void UserGroupsPage::updateNames() {
    m_names->clear();
    for (long row = 1; row <= sheet()->GetMaxRow() && !sheet()->GetTextRC(row, 1).isEmpty(); row++)
        m_names->addItem(sheet()->GetTextRC(row, 1));
}

void UserGroupsPage::writeRow(long row, const QByteArray& name, bool allow) {
    CVCF1* s = sheet();
    if (row > s->GetMaxRow()) s->SetMaxRow(row);
    s->SetTextRC(row, 1, fromCp1250(std::string_view(name.constData(), name.size())));
    s->SetTextRC(row, 2, allow ? allowText() : denyText());
    s->SetTextColorRC(row, 2, allow ? ALLOW_COLOUR : DENY_COLOUR);
    updateNames();
}

QByteArray UserGroupsPage::rowName(long row) const {
    return bytesOf(sheet()->GetTextRC(row, 1));
}

long UserGroupsPage::selectedRow() const {
    long row = sheet()->GetSelStartRow();
    return row >= 1 && !sheet()->GetTextRC(row, 1).isEmpty() ? row : 0;
}

QString UserGroupsPage::nameRefusal(const QByteArray& name, long row) const {
    if (name.isEmpty()) return QStringLiteral("Hiba ...(nincs csoportnév)");
    QString refusal = GroupNameRefusal(name);
    if (!refusal.isEmpty()) return refusal;
    long rows = 0;
    for (long r = 1; r <= sheet()->GetMaxRow(); r++) {
        QByteArray other = rowName(r);
        if (other.isEmpty()) break;
        rows++;
        if (r != row && other == name) return QStringLiteral("A csoport már szerepel a listában");
    }
    if (row == 0 && rows >= SD_MAX_GROUPS) return QStringLiteral("Legfeljebb 128 csoport lehet !");
    return {};
}

void UserGroupsPage::loadForViewing() {
    runRemote([] { return serverData.groups.Load(false); },
              [this](int rc) {
                  if (rc < 0) {
                      setStatus(rc == SD_CONCURRENT ? QStringLiteral("Konkurens használat")
                                : rc == SD_LOCAL    ? QStringLiteral("Lokalis file olvasasi hiba !")
                                                    : QStringLiteral("Hiba a proxy szerveren !"));
                      return;
                  }
                  fill(false);
              });
}

bool UserGroupsPage::prepareSave() {
    QVector<QByteArray> names;
    QVector<GroupList::Row> rows;
    for (long r = 1; r <= sheet()->GetMaxRow(); r++) {
        QByteArray name = rowName(r);
        if (name.isEmpty()) break; // the first empty row ends the list
        const char* kind = sheet()->GetTextRC(r, 2).startsWith(QLatin1Char('T')) ? "d" : "a";
        char path[256];
        QString refusal = nameRefusal(name, r);
        if (refusal.isEmpty() &&
            !GroupList::DerivePermitPath(name.constData(), kind, path, sizeof path))
            refusal = QStringLiteral("A csoport URL listájának útvonala túl hosszú !");
        if (!refusal.isEmpty()) {
            setStatus(refusal);
            return false;
        }
        names.append(name);
        rows.append({nullptr, kind, r - 1 < m_origin.size() ? m_origin[r - 1] : -1});
    }
    for (int i = 0; i < rows.size(); i++)
        rows[i].name = names[i].constData();
    // The users and the current group move with their groups' rows.
    serverData.groups.Rebuild(rows.constData(), rows.size());
    return true;
}

void UserGroupsPage::committed(int) {
    // The save sorted the table: the rows now come from the groups of their names.
    m_origin.clear();
    for (long r = 1; r <= sheet()->GetMaxRow(); r++) {
        QByteArray name = rowName(r);
        if (name.isEmpty()) break;
        m_origin.append(serverData.groups.Find(name.constData()));
    }
}

int UserGroupsPage::exportTo(const char* path) {
    return serverData.groups.Export(path);
}

int UserGroupsPage::entryCount() const {
    return serverData.groups.Count();
}

void UserGroupsPage::showEditing() {
    fill(true);
}

void UserGroupsPage::showViewing() {
    sheet()->ClearSheet();
    if (sdServerUsable()) loadForViewing();
}

void UserGroupsPage::showImported() {
    fill(true);
}

void UserGroupsPage::addEntry() {
    if (!editing()) return;
    clearStatus();
    long row = 1;
    while (row <= sheet()->GetMaxRow() && !sheet()->GetTextRC(row, 1).isEmpty())
        row++;
    GroupDialog dialog(this);
    dialog.setName(QByteArray());
    dialog.setAllow(false);
    dialog.setCheck([this](const QByteArray& name) { return nameRefusal(name, 0); });
    if (dialog.exec() != QDialog::Accepted) return;
    writeRow(row, dialog.name(), dialog.allow());
    if (m_origin.size() < row) m_origin.resize(row, -1);
    m_origin[row - 1] = -1;
}

void UserGroupsPage::changeEntry() {
    if (!editing()) return;
    clearStatus();
    long row = selectedRow();
    if (row == 0) return;
    GroupDialog dialog(this);
    dialog.setName(rowName(row));
    dialog.setAllow(sheet()->GetTextRC(row, 2) != denyText());
    dialog.setCheck([this, row](const QByteArray& name) { return nameRefusal(name, row); });
    if (dialog.exec() != QDialog::Accepted) return;
    writeRow(row, dialog.name(), dialog.allow());
}

void UserGroupsPage::deleteEntry() {
    if (!editing()) return;
    clearStatus();
    long row = selectedRow();
    if (row == 0) return;
    QString name = sheet()->GetTextRC(row, 1);
    int origin = row - 1 < m_origin.size() ? m_origin[row - 1] : -1;
    if (origin >= 0) {
        for (int i = 0; i < serverData.users.Count(); i++) {
            if (serverData.users[i].group == origin) {
                setStatus(QStringLiteral("%1 csoport nem törölhető !").arg(name));
                return;
            }
        }
    }
    if (MessageBox::critical(this, QStringLiteral("Figyelem!"),
                             QStringLiteral(" %1 group törlés következik! \nRENDBEN !?").arg(name),
                             MessageBox::OkCancel) != MessageBox::Ok)
        return;
    CVCF1* s = sheet();
    s->SetRepaint(false);
    s->DeleteRange(row, 1, row, 2, CVCF1::ShiftRows);
    if (s->GetMaxRow() < MIN_ROWS) s->SetMaxRow(MIN_ROWS);
    s->SetRepaint(true);
    if (row - 1 < m_origin.size()) m_origin.remove(row - 1);
    updateNames();
}
