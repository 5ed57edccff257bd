// The log pages: the tail program on the server, the fetched "vxtail.tmp" and its lines in the
// grid.
#include "pages/system/log_page.h"

#include <cstdio>
#include <cstring>

#include <QFont>
#include <QFontMetrics>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/remote_runner.h"
#include "serverdata/sd_logs.h"
#include "widgets/buttons.h"
#include "widgets/cp1250.h"
#include "widgets/gridctrl.h"
#include "widgets/panels.h"
#include "widgets/waitcursor.h"

namespace {

constexpr const char* TAIL_FILE = "vxtail.tmp";

} // namespace

LogPage::LogPage(Log log, const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_log(log) {
    m_group = addGroup(log == SystemLog ? QStringLiteral("Rendszerlog adatok")
                                        : QStringLiteral("Daemon log file"),
                       QRect(5, 10, 600, 355));
    // One column of fixed-pitch lines, no headings, read-only, room for 10,000 lines.
    m_grid = new GridCtrl(this);
    m_grid->setObjectName(QStringLiteral("logGrid"));
    m_grid->setGeometry(10, 40, 590, 318);
    m_grid->SetNumberCols(1);
    m_grid->SetColWidth(0, MIN_LINE_WIDTH);
    m_grid->SetSH_Width(0);
    m_grid->SetTH_Height(0);
    m_grid->SetNumberRows(PREPARED_ROWS);
    m_grid->SetDefRowHeight(16);
    // The table page's fixed-pitch set-up: Fixedsys, 14 pixels.
    QFont fixed(QStringLiteral("Fixedsys"));
    fixed.setPixelSize(14);
    fixed.setStyleHint(QFont::TypeWriter);
    m_grid->SetDefFont(fixed);
    m_grid->setFont(fixed);
    GridCell readOnly;
    readOnly.readOnly = true;
    m_grid->SetGridDefault(readOnly);
    addFrameButtons();
    connect(this, &FramePage::refreshRequested, this, &LogPage::reload);
    // Shown only while a fetch runs, left of the refresh button.
    m_cancel = new RoundButton(this);
    m_cancel->setObjectName(QStringLiteral("button%1").arg(ID_CANCEL_BUTTON));
    SetupActionButton(m_cancel, 360, 385, 120, 40, QStringLiteral("&Mégse"), Qt::black,
                      QColor(120, 140, 210), 14, 8);
    m_cancel->hide();
    connect(m_cancel, &QAbstractButton::clicked, this, &LogPage::cancel);
}

LogPage::~LogPage() {
    // Nobody is left to list the running fetch.
    if (fetching()) RemoteRunner::instance()->cancel();
}

const char* LogPage::logFile() const {
    return m_log == SystemLog ? "/var/log/tty12" : "./tcp_srvr.log";
}

void LogPage::command(int id, quintptr param) {
    FramePage::command(id, param);
    if (id == CMD_PAGE_SHOWN) reload();
}

void LogPage::listLine(const QString& text) {
    if (m_lineCount >= MAX_ROWS) return; // the grid holds no more
    if (m_lineCount >= m_grid->GetNumberRows()) m_grid->SetNumberRows(m_lineCount + 1);
    m_grid->QuickSetText(0, m_lineCount, text);
    fitLine(text);
    m_lineCount++;
    // Keep the newest line in view.
    if (m_lineCount > 15) m_grid->ScrollDown(1);
}

void LogPage::fitLine(const QString& text) {
    // The column grows to the longest line, so a line is read whole by scrolling sideways.
    const int width = QFontMetrics(m_grid->font()).horizontalAdvance(text) + LINE_PADDING;
    if (width > m_grid->GetColWidth(0)) m_grid->SetColWidth(0, width);
}

void LogPage::reload() {
    if (fetching()) return;
    setFetching(true);
    m_cancelled = false;
    auto result = std::make_shared<SdLogResult>(SdLogResult::FetchFailed);
    const char* file = logFile(); // a literal: valid on the worker
    RemoteRunner::instance()->run(
        this, [result, file] { *result = SdFetchLogTail(file, TAIL_LINES, TAIL_FILE, TAIL_FILE); },
        [this, result] {
            setFetching(false);
            // A cancelled fetch left no file: the grid keeps what it listed. One that was
            // done before the cancel came lists its whole file.
            if (!m_cancelled || *result == SdLogResult::Fetched) list(*result);
            emit reloaded();
        });
}

void LogPage::cancel() {
    if (!fetching()) return;
    m_cancelled = true;
    RemoteRunner::instance()->cancel();
}

void LogPage::setFetching(bool on) {
    if (on)
        m_wait = std::make_unique<WaitCursor>();
    else
        m_wait.reset();
    if (refreshButton()) refreshButton()->setEnabled(!on);
    m_cancel->setVisible(on);
}

void LogPage::list(SdLogResult result) {
    // Empty the grid: every row goes, then the prepared rows come back blank.
    m_grid->SetNumberRows(0);
    m_grid->SetNumberRows(PREPARED_ROWS);
    m_grid->SetColWidth(0, MIN_LINE_WIDTH);
    m_grid->scrollToTop();
    m_lineCount = 0;

    switch (result) {
    case SdLogResult::NoHost:
        listLine(QStringLiteral("  ProxyServerName !"));
        return;
    case SdLogResult::TailFailed:
        listLine(QStringLiteral("  'tail' nem futtatható a proxy szerveren !"));
        return;
    case SdLogResult::FetchFailed:
        listLine(QStringLiteral("  Távoli file olvasási hiba !"));
        return;
    case SdLogResult::Fetched:
        break;
    }
    FILE* in = std::fopen(TAIL_FILE, "rb");
    if (!in) {
        listLine(m_log == SystemLog ? QStringLiteral("  Lokális file olvasási hiba !")
                                    : QStringLiteral("  Távoli file olvasási hiba!"));
        return;
    }
    char piece[PIECE_MAX + 1];
    while (std::fgets(piece, sizeof piece, in)) {
        size_t n = std::strlen(piece);
        // A line ends in LF or CR LF, as text mode reads it; either end becomes one blank.
        if (n >= 2 && piece[n - 2] == '\r' && piece[n - 1] == '\n') {
            piece[n - 2] = '\n';
            n--;
        }
        for (size_t i = 0; i < n; i++)
            if (piece[i] == '\n') piece[i] = ' ';
        listLine(fromCp1250(std::string_view(piece, n)));
    }
    std::fclose(in);
    if (m_lineCount > 0) m_grid->SetNumberRows(m_lineCount);
    m_grid->RedrawAll();
}
