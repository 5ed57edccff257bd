// The statistics pages: the query ("Szelekció"), its result as a table ("Táblázat") and as a
// chart ("Grafikon").
#pragma once

#include "frame_page.h"

class CChartfx;
class CzCExtGroup;
class GridCtrl;

class SelectionPage : public FramePage {
    Q_OBJECT
  public:
    SelectionPage(const PageEntry& entry, QWidget* parent);
};

class TablePage : public FramePage {
    Q_OBJECT
  public:
    TablePage(const PageEntry& entry, QWidget* parent);
    CzCExtGroup* group() const { return m_group; }
    GridCtrl* grid() const { return m_grid; }

  private:
    CzCExtGroup* m_group;
    GridCtrl* m_grid;
};

class ChartPage : public FramePage {
    Q_OBJECT
  public:
    ChartPage(const PageEntry& entry, QWidget* parent);
    CzCExtGroup* group() const { return m_group; }
    CChartfx* chart() const { return m_chart; }

  private:
    CzCExtGroup* m_group;
    CChartfx* m_chart;
};
