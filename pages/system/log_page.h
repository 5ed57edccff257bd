// The log pages ("Rendszer / Rendszer log" and "Rendszer / Deamon log"): the last 50 lines of a
// server log in a read-only fixed-pitch grid, reloaded on every showing and by the refresh
// button.
#pragma once

#include "pages/frame_page.h"

class CzCExtGroup;
class GridCtrl;

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

    LogPage(Log log, const PageEntry& entry, QWidget* parent);

    // CMD_PAGE_SHOWN reloads.
    void command(int id, quintptr param = 0) override;

    // Has the server's tail program copy the log's last lines into "vxtail.tmp", fetches it and
    // lists it; a failure lists one message line instead.
    void reload();

    Log log() const { return m_log; }
    // The log file on the server.
    const char* logFile() const;
    CzCExtGroup* group() const { return m_group; }
    GridCtrl* grid() const { return m_grid; }
    int lineCount() const { return m_lineCount; }

  private:
    void listLine(const QString& text);
    void fitLine(const QString& text);

    Log m_log;
    CzCExtGroup* m_group;
    GridCtrl* m_grid;
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
