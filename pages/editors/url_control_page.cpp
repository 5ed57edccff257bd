// The URL control page: a group selector and the group's permit list as a one-column sheet.
#include "pages/editors/url_control_page.h"

#include <algorithm>
#include <string>
#include <vector>

#include <QComboBox>
#include <QLabel>

#include "app/commands.h"
#include "app/text_input_dialog.h"
#include "pages/editors/refusal_texts.h"
#include "serverdata/sd_host.h"
#include "serverdata/sd_text.h"
#include "serverdata/server_data.h"
#include "widgets/cp1250.h"
#include "widgets/messagebox.h"
#include "widgets/panels.h"
#include "widgets/vcf1.h"

namespace {

const EditorPage::Texts URL_TEXTS = {
    .loading = QStringLiteral("Betöltés !"),
    .loadConcurrent = QStringLiteral("Konkurens használat !"),
    .loadServer = QStringLiteral("Hiba a proxy szerveren !"),
    .loadLocal = QStringLiteral("Lokális file kezelési hiba !"),
    .loadNothing = QStringLiteral("Válasszon felhasználói csoportot !"),
    .saving = QStringLiteral("Mentés !"),
    .saveLocal = QStringLiteral("Lokális file kezelési hiba !"),
    .saveServer = QStringLiteral("Hiba a proxy szerveren !"),
    .releaseFailed = QStringLiteral("Távoli hiba !!"),
    .exportDone = QStringLiteral("OK !"),
    .printTitle = QStringLiteral("URL Lista"),
};

const QString DUPLICATE_URL = QStringLiteral("Az URL már szerepel a listában");

QByteArray bytesOf(const QString& text, bool* ok = nullptr) {
    std::string out;
    bool converted = toCp1250(text, out);
    if (ok) *ok = converted;
    return converted ? QByteArray(out.data(), static_cast<qsizetype>(out.size())) : QByteArray();
}

// Why a URL cannot be stored in a permit list ("" when it can).
QString urlRefusal(const QString& url) {
    bool ok = false;
    QByteArray bytes = bytesOf(url, &ok);
    if (!ok)
        return QStringLiteral("Az URL olyan karaktert tartalmaz, amely a Windows-1250 kódlapon "
                              "nem írható le !");
    return RefusalText(sdUrlProblem(bytes.constData()), QStringLiteral("Az URL"));
}

} // namespace

UrlControlPage::UrlControlPage(const PageEntry& entry, QWidget* parent)
    : EditorPage(entry, SdList::Urls, URL_TEXTS, parent) {
    addSheet(QStringLiteral("URL nevek"), QRect(5, 5, 300, 370), 1, MIN_ROWS);
    m_groupPanel = addPanel(QStringLiteral("Csoport kiválasztás"), QRect(310, 5, 295, 90));
    m_groupPanel->setObjectName(QStringLiteral("groupPanel"));
    m_groups = new QComboBox(m_groupPanel);
    m_groups->setObjectName(QStringLiteral("groupSelector"));
    m_groups->setGeometry(10, 30, 150, 26);
    m_kind = new QLabel(m_groupPanel);
    m_kind->setObjectName(QStringLiteral("kindLabel"));
    m_kind->setGeometry(170, 30, 120, 26);
    addMessagesAndButtons(QRect(310, 290, 295, 85));
    addEditButtons({{ID_ADD, 315, 210, 90, 35},
                    {ID_CHANGE, 415, 210, 90, 35},
                    {ID_DELETE, 415, 245, 90, 35},
                    {ID_IMPORT_BUTTON, 515, 210, 90, 35},
                    {ID_EXPORT_BUTTON, 515, 245, 90, 35}});
    connect(m_groups, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_filling) chooseGroup(index);
    });
    fill();
    fillGroups();
}

void UrlControlPage::fillGroups() {
    m_filling = true;
    m_groups->clear();
    for (int i = 0; i < serverData.groups.Count(); i++)
        m_groups->addItem(fromCp1250(serverData.groups[i].name));
    int current = serverData.urls.currentGroup;
    m_groups->setCurrentIndex(current >= 0 && current < serverData.groups.Count() ? current : -1);
    m_filling = false;
    updateKind();
}

void UrlControlPage::updateKind() {
    int current = serverData.urls.currentGroup;
    if (current < 0 || current >= serverData.groups.Count())
        m_kind->clear();
    else
        m_kind->setText(serverData.groups[current].kind[0] == 'd'
                            ? QStringLiteral("Tiltó lista")
                            : QStringLiteral("Engedélyezö lista"));
}

void UrlControlPage::chooseGroup(int group) {
    // The selector is disabled while a list is checked out or loaded.
    if (editing() || running()) return;
    serverData.urls.currentGroup = group >= 0 && group < serverData.groups.Count() ? group : -1;
    if (m_groups->currentIndex() != serverData.urls.currentGroup) {
        m_filling = true;
        m_groups->setCurrentIndex(serverData.urls.currentGroup);
        m_filling = false;
    }
    updateKind();
    loadForViewing();
}

void UrlControlPage::fill() {
    CVCF1* s = sheet();
    const int count = serverData.urls.Count();
    s->SetupEditorSheet(1, std::max(count, MIN_ROWS), {8200}, 280,
                        QFont(QStringLiteral("Arial"), 10), QColor(0, 0, 255));
    s->SetRepaint(false);
    for (int i = 0; i < count; i++)
        s->SetTextRC(i + 1, 1, fromCp1250(serverData.urls[i]));
    s->SetRepaint(true);
}

void UrlControlPage::loadForViewing() {
    runRemote([] { return serverData.urls.Load(false); },
              [this](int rc) {
                  if (rc == SD_DONE) {
                      fill();
                      setStatus(QStringLiteral("OK !"));
                  } else if (rc == SD_NOTHING) {
                      setStatus(QStringLiteral("Válasszon felhasználót !"));
                  } else {
                      setStatus(EditorResultText(rc < 0 ? rc : SD_SERVER));
                  }
              });
}

void UrlControlPage::pageShown() {
    // The group table may have changed on the groups page.
    if (!editing() && !running()) fillGroups();
}

void UrlControlPage::editingChanged(bool on) {
    m_groups->setEnabled(!on && !running());
}

void UrlControlPage::runningChanged(bool on) {
    m_groups->setEnabled(!on && !editing());
}

bool UrlControlPage::prepareSave() {
    QVector<QByteArray> urls;
    for (long r = 1; r <= sheet()->GetMaxRow(); r++) {
        QString text = sheet()->GetTextRC(r, 1);
        if (text.isEmpty()) break; // the first empty row ends the list
        // A row typed into the sheet has had no check yet.
        QString refusal = urlRefusal(text);
        if (!refusal.isEmpty()) {
            setStatus(QStringLiteral("%1. sor: %2").arg(r).arg(refusal));
            return false;
        }
        urls.append(bytesOf(text));
    }
    // Rebuilding the table is no edit of its own: the flag keeps what the edits said. A table
    // that does not take the rows is put back whole, so that an export still writes all of it.
    const int32_t modified = serverData.urls.modified;
    std::vector<std::string> before;
    for (int i = 0; i < serverData.urls.Count(); i++)
        before.emplace_back(serverData.urls[i]);
    serverData.urls.Clear();
    for (const QByteArray& url : urls) {
        if (serverData.urls.Add(url.constData()) < 0) {
            const bool full = serverData.urls.Count() >= SD_MAX_URLS;
            serverData.urls.Restore(before);
            serverData.urls.modified = modified;
            setStatus(full ? QStringLiteral("Az URL lista nem fér el (legfeljebb 1024 URL) !")
                           : QStringLiteral("Az URL lista nem fér el (legfeljebb %1 bájt) !")
                                 .arg(SD_URL_POOL_USABLE));
            return false;
        }
    }
    serverData.urls.modified = modified;
    sheet()->SetMaxRow(std::max(serverData.urls.Count(), MIN_ROWS));
    return true;
}

int UrlControlPage::editGroup() const {
    return serverData.urls.currentGroup;
}

int UrlControlPage::exportTo(const char* path) {
    return serverData.urls.Export(path);
}

int UrlControlPage::entryCount() const {
    return serverData.urls.Count();
}

void UrlControlPage::showEditing() {
    fill();
}

void UrlControlPage::showViewing() {
    sheet()->ClearSheet();
    if (sdServerUsable()) loadForViewing();
}

void UrlControlPage::showImported() {
    fill();
}

QString UrlControlPage::askUrl(const QString& title, const QString& preset, long row) {
    QString text = preset;
    for (;;) {
        TextInputDialog dialog(this);
        dialog.setTitle(title);
        dialog.setText(text);
        if (dialog.exec() != QDialog::Accepted) return {};
        text = dialog.text();
        if (text.isEmpty()) return {};
        QString refusal = urlRefusal(text);
        for (long r = 1; refusal.isEmpty() && r <= sheet()->GetMaxRow(); r++)
            if (r != row && sheet()->GetTextRC(r, 1) == text) refusal = DUPLICATE_URL;
        if (refusal.isEmpty()) return text;
        // Refused: the dialog comes back with what was typed.
        MessageBox::warning(this, QStringLiteral("Hiba !!"), refusal);
    }
}

void UrlControlPage::addEntry() {
    if (!editing()) return;
    long row = 1;
    while (row <= sheet()->GetMaxRow() && !sheet()->GetTextRC(row, 1).isEmpty())
        row++;
    QString url = askUrl(QStringLiteral("Uj lista elem:"), QString(), 0);
    if (url.isEmpty()) return;
    serverData.urls.modified = 1;
    if (sheet()->GetMaxRow() < std::max<long>(row, MIN_ROWS))
        sheet()->SetMaxRow(std::max<long>(row, MIN_ROWS));
    sheet()->SetTextRC(row, 1, url);
    clearStatus();
}

void UrlControlPage::changeEntry() {
    if (!editing()) return;
    long row = sheet()->GetSelStartRow();
    if (row < 1) return;
    QString old = sheet()->GetTextRC(row, 1);
    if (old.isEmpty()) return;
    QString url = askUrl(QStringLiteral("Módositás:"), old, row);
    if (url.isEmpty() || url == old) return;
    sheet()->SetTextRC(row, 1, url);
    serverData.urls.modified = 1;
    clearStatus();
}

void UrlControlPage::deleteEntry() {
    if (!editing()) return;
    long row = sheet()->GetSelStartRow();
    if (row < 1 || sheet()->GetTextRC(row, 1).isEmpty()) return;
    if (MessageBox::critical(this, QStringLiteral("Figyelem!"),
                             QStringLiteral("Törlés következik! \nRENDBEN !?"),
                             MessageBox::OkCancel) == MessageBox::Ok) {
        CVCF1* s = sheet();
        s->SetRepaint(false);
        s->DeleteRange(row, 1, row, 1, CVCF1::ShiftRows);
        if (s->GetMaxRow() < MIN_ROWS) s->SetMaxRow(MIN_ROWS);
        s->SetRepaint(true);
        serverData.urls.modified = 1;
    }
    clearStatus();
}
