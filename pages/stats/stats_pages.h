// The statistics pages: the query ("Szelekció"), its result as a table ("Táblázat") and as a
// chart ("Grafikon"). The query logic and the result readers live in the stats core; the pages
// are the windows over them.
#pragma once

#include <memory>

#include <QList>
#include <QStringList>

#include "pages/frame_page.h"
#include "stats/stat_result.h"

class CChartfx;
class CVCF1;
class CzCExtGroup;
class GridCtrl;
class QButtonGroup;
class QCalendarWidget;
class QComboBox;
class QLabel;
class QPrinter;
class QRadioButton;
class QSpinBox;
class RoundButton;
class WaitCursor;

// The last statistics result of a window, shared by its statistics pages: the selection page
// stores what a query returned, the table and the chart page show it. The pages' common parent
// (the main window) holds it, made when the first page asks for it.
class StatResults : public QObject {
    Q_OBJECT
  public:
    // The holder of owner (made on first use as owner's child).
    static StatResults* of(QObject* owner);
    // Keeps a new result; the pages show it when they are shown next.
    void store(StatResult result);
    const StatResult& last() const { return m_last; }
    // Counts the results stored (0: none yet), so that a page draws each result once.
    int serial() const { return m_serial; }

  private:
    explicit StatResults(QObject* owner) : QObject(owner) {}
    StatResult m_last;
    int m_serial = 0;
};

// Names the part of a calendar under a point of the calendar (in its coordinates): "Button
// next", "Month name", "Week day", "Date from current month", ... or "Nowhere".
QString CalendarPartAt(QCalendarWidget* calendar, const QPoint& pos);

class SelectionPage : public FramePage {
    Q_OBJECT
  public:
    // Name list modes.
    enum ListMode { Users = 1, AllUsers = 2, Groups = 3 };

    SelectionPage(const PageEntry& entry, QWidget* parent);
    ~SelectionPage() override;
    void command(int id, quintptr param = 0) override;

    // "&Start!": starts the query on the remote worker; its outcome shows in the message line
    // when it is back (queryFinished). While it runs, "&Mégse" beside the start button cancels it.
    void start();
    // Ends the running query's server waits; it fails as cancelled, the previous result stays.
    void cancel();
    bool running() const { return m_wait != nullptr; }

    int listMode() const { return m_listMode; }
    QCalendarWidget* startCalendar() const { return m_startCalendar; }
    QCalendarWidget* endCalendar() const { return m_endCalendar; }
    QSpinBox* startHour() const { return m_startHour; }
    QSpinBox* startMinute() const { return m_startMinute; }
    QSpinBox* endHour() const { return m_endHour; }
    QSpinBox* endMinute() const { return m_endMinute; }
    QRadioButton* resolutionButton(int code) const; // 0..4
    QRadioButton* kindButton(int code) const;       // 0..2
    QRadioButton* scopeButton(int code) const;      // 0, 5, -1
    QComboBox* nameList() const { return m_names; }
    QLabel* nameLabel() const { return m_nameLabel; }
    RoundButton* startButton() const { return m_start; }
    RoundButton* cancelButton() const { return m_cancel; }

  signals:
    // A query started by start() is over and its outcome shown.
    void queryFinished();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void setListMode(ListMode mode);
    void fillNames();
    void kindChanged(int kind);
    void setRunning(bool running);

    QCalendarWidget* m_startCalendar;
    QCalendarWidget* m_endCalendar;
    QSpinBox* m_startHour;
    QSpinBox* m_startMinute;
    QSpinBox* m_endHour;
    QSpinBox* m_endMinute;
    QButtonGroup* m_resolution;
    QButtonGroup* m_kind;
    QButtonGroup* m_scope;
    QLabel* m_nameLabel;
    QComboBox* m_names;
    RoundButton* m_start;
    RoundButton* m_cancel;
    StatResults* m_results;
    std::unique_ptr<WaitCursor> m_wait; // while a query runs
    int m_listMode = AllUsers;
};

class TablePage : public FramePage {
    Q_OBJECT
  public:
    TablePage(const PageEntry& entry, QWidget* parent);
    void command(int id, quintptr param = 0) override;

    // Shows a result's lines in the grid and the print copy (a result whose file could not be
    // read: none, and a message).
    void showResult(const StatResult& result);
    // Prints the shown lines with the title "Táblázat" (0, or -1 cancelled or failed).
    int print(QPrinter* printer = nullptr);

    CzCExtGroup* group() const { return m_group; }
    GridCtrl* grid() const { return m_grid; }
    CVCF1* printCopy() const { return m_sheet; }
    int lineCount() const { return m_lineCount; }
    // Shown while the result held more lines than the page shows.
    QLabel* cutNote() const { return m_cutNote; }

  private:
    CzCExtGroup* m_group;
    GridCtrl* m_grid;
    QLabel* m_cutNote;
    CVCF1* m_sheet;
    StatResults* m_results;
    int m_shown = 0; // the serial of the result shown
    int m_lineCount = 0;
};

class ChartPage : public FramePage {
    Q_OBJECT
  public:
    ChartPage(const PageEntry& entry, QWidget* parent);
    void command(int id, quintptr param = 0) override;

    // Draws a traffic result; false (the chart unchanged) for a result whose file could not be
    // read.
    bool showResult(const StatResult& result);

    CzCExtGroup* group() const { return m_group; }
    CChartfx* chart() const { return m_chart; }
    // What the last drawing handed to the chart.
    double lowest() const { return m_lowest; }
    double highest() const { return m_highest; }
    double total() const { return m_total; }
    bool truncated() const { return m_truncated; }
    // Shown while the drawing holds only the first buckets of the period.
    QLabel* cutNote() const { return m_cutNote; }
    // Shown while the drawing is a group's traffic: "Csoport: NAME".
    QLabel* scopeNote() const { return m_scopeNote; }

  private:
    void setValueRange(double lowest, double highest);
    void showCut(const StatResult& result);

    CzCExtGroup* m_group;
    CChartfx* m_chart;
    QLabel* m_cutNote;
    QLabel* m_scopeNote;
    StatResults* m_results;
    int m_shown = 0; // the serial of the result drawn
    double m_lowest = 0;
    double m_highest = 0;
    double m_total = 0;
    bool m_truncated = false;
};
