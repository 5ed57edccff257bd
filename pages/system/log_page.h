// The log pages ("Rendszer / Rendszer log" and "Rendszer / Deamon log"): the last 50 lines of a
// server log in a read-only fixed-pitch grid, reloaded on every showing and by the refresh
// button. The fetch runs on the remote worker; while it runs "&Mégse" cancels it.
#pragma once

#include <memory>

#include "pages/frame_page.h"

class CzCExtGroup;
class GridCtrl;
class WaitCursor;
enum class SdLogResult;

class LogPage : public FramePage {
    Q_OBJECT
  public:
    enum Log { SystemLog, DaemonLog };

    static constexpr int TAIL_LINES = 50;
    static constexpr long PREPARED_ROWS = 10000;
    static constexpr long MAX_ROWS = 99999; // the most rows the grid takes
    static constexpr int PIECE_MAX = 511;   // characters of one listed piece of a line
    // The line column fills the grid at least, and grows to the widest line (with a cell's
    // margins).
    static constexpr int MIN_LINE_WIDTH = 570;
    static constexpr int LINE_PADDING = 12;

    static constexpr int ID_CANCEL_BUTTON = 1042;

    LogPage(Log log, const PageEntry& entry, QWidget* parent);
    ~LogPage() override;

    // CMD_PAGE_SHOWN reloads.
    void command(int id, quintptr param = 0) override;

    // Has the server's tail program copy the log's last lines into "vxtail.tmp", fetches it and
    // lists it; a failure lists one message line instead. The fetch runs on the remote worker
    // and the grid changes when it is back (reloaded); a reload while one runs does nothing.
    void reload();
    // Ends the running fetch's server waits: the grid keeps what it listed, and no part of the
    // file is left.
    void cancel();
    bool fetching() const { return m_wait != nullptr; }

    Log log() const { return m_log; }
    // The log file on the server.
    const char* logFile() const;
    CzCExtGroup* group() const { return m_group; }
    GridCtrl* grid() const { return m_grid; }
    int lineCount() const { return m_lineCount; }
    RoundButton* cancelButton() const { return m_cancel; }

  signals:
    // A reload's fetch is back and the grid shows its outcome (or, cancelled, what it showed).
    void reloaded();

  private:
    void setFetching(bool on);
    void list(SdLogResult result);
    void listLine(const QString& text);
    void fitLine(const QString& text);

    Log m_log;
    CzCExtGroup* m_group;
    GridCtrl* m_grid;
    RoundButton* m_cancel;
    std::unique_ptr<WaitCursor> m_wait; // while a fetch runs
    bool m_cancelled = false;           // the running fetch was cancelled
    int m_lineCount = 0;
};

// The two pages of the page tree.
class SystemLogPage : public LogPage {
    Q_OBJECT
  public:
    SystemLogPage(const PageEntry& entry, QWidget* parent) : LogPage(SystemLog, entry, parent) {}
};

class DaemonLogPage : public LogPage {
    Q_OBJECT
  public:
    DaemonLogPage(const PageEntry& entry, QWidget* parent) : LogPage(DaemonLog, entry, parent) {}
};
