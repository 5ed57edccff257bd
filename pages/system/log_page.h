// The log pages ("Rendszer / Rendszer log" and "Rendszer / Deamon log"): the end of a server log
// in a read-only grid.
#pragma once

#include "frame_page.h"

class CzCExtGroup;
class GridCtrl;

class LogPage : public FramePage {
    Q_OBJECT
  public:
    enum Log { SystemLog, DaemonLog };

    LogPage(Log log, const PageEntry& entry, QWidget* parent);

    Log log() const { return m_log; }
    CzCExtGroup* group() const { return m_group; }
    GridCtrl* grid() const { return m_grid; }

  private:
    Log m_log;
    CzCExtGroup* m_group;
    GridCtrl* m_grid;
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
