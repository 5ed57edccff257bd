// The selection page: period, resolution, kind and scope of a statistics query, and its run,
// whose result the window's statistics pages share.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <QAbstractItemView>
#include <QApplication>
#include <QButtonGroup>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDate>
#include <QEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPointer>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QToolButton>
#include <QToolTip>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "pages/stats/stats_pages.h"
#include "serverdata/sd_host.h"
#include "serverdata/server_data.h"
#include "stats/stat_progress.h"
#include "stats/stat_query.h"
#include "widgets/buttons.h"
#include "widgets/cp1250.h"
#include "widgets/waitcursor.h"

namespace {

constexpr int ID_START_BUTTON = 1041;
constexpr int ID_CANCEL_BUTTON = 1042;
constexpr int kGroupScope = 100; // "Csoport" lies outside the examined ids: scope -1

QSpinBox* timeField(QWidget* parent, int x, int y, int max, int value, const QString& name) {
    auto* box = new QSpinBox(parent);
    box->setObjectName(name);
    box->setRange(0, max);
    box->setValue(value);
    box->setGeometry(x, y, 50, 22);
    // Read-only: only the up-down buttons (and the arrow keys) change the value.
    box->findChild<QLineEdit*>()->setReadOnly(true);
    return box;
}

QCalendarWidget* calendar(QWidget* parent, int x, const QString& name) {
    auto* c = new QCalendarWidget(parent);
    c->setObjectName(name);
    c->setGeometry(x + 5, 30, 190, 150);
    c->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    // Hungarian month and day names, the week from Monday; the day heads in a size that fits
    // the columns.
    c->setLocale(QLocale(QLocale::Hungarian, QLocale::Hungary));
    c->setFirstDayOfWeek(Qt::Monday);
    c->setHorizontalHeaderFormat(QCalendarWidget::ShortDayNames);
    c->setSelectedDate(QDate::currentDate());
    return c;
}

} // namespace

StatResults* StatResults::of(QObject* owner) {
    auto* results = owner->findChild<StatResults*>(QString(), Qt::FindDirectChildrenOnly);
    return results ? results : new StatResults(owner);
}

void StatResults::store(StatResult result) {
    m_last = std::move(result);
    ++m_serial;
}

QString CalendarPartAt(QCalendarWidget* calendar, const QPoint& pos) {
    if (!calendar->rect().contains(pos)) return QStringLiteral("Nowhere");
    QWidget* w = calendar->childAt(pos);
    // The innermost widget, or the named part of the calendar that holds it.
    for (QWidget* p = w; p && p != calendar; p = p->parentWidget()) {
        const QString name = p->objectName();
        if (name == QLatin1String("qt_calendar_nextmonth")) return QStringLiteral("Button next");
        if (name == QLatin1String("qt_calendar_prevmonth"))
            return QStringLiteral("Button previous");
        if (name == QLatin1String("qt_calendar_monthbutton")) return QStringLiteral("Month name");
        if (name == QLatin1String("qt_calendar_yearbutton") ||
            name == QLatin1String("qt_calendar_yearedit"))
            return QStringLiteral("Year");
        if (name == QLatin1String("qt_calendar_navigationbar"))
            return QStringLiteral("Title background");
    }
    auto* view = calendar->findChild<QTableView*>(QStringLiteral("qt_calendar_calendarview"));
    if (!view || (w != view->viewport() && w != view)) return QStringLiteral("Calendar background");
    QPoint at = view->viewport()->mapFrom(calendar, pos);
    QModelIndex index = view->indexAt(at);
    if (!index.isValid()) return QStringLiteral("Calendar background");
    // The view's first row holds the day names, its first column (when shown) the week numbers.
    const bool weekNumbers = calendar->verticalHeaderFormat() != QCalendarWidget::NoVerticalHeader;
    if (index.row() == 0) return QStringLiteral("Week day");
    if (weekNumbers && index.column() == 0) return QStringLiteral("Week number");
    QDate first(calendar->yearShown(), calendar->monthShown(), 1);
    // Dates run across the rows from the first day of the week of the month's first day.
    int offset = (first.dayOfWeek() - int(calendar->firstDayOfWeek()) + 7) % 7;
    if (offset == 0) offset = 7; // a whole row of the previous month, as the calendar shows it
    int cell = (index.row() - 1) * 7 + index.column() - (weekNumbers ? 1 : 0);
    QDate date = first.addDays(cell - offset);
    if (date.month() == first.month()) return QStringLiteral("Date from current month");
    return date < first ? QStringLiteral("Date from previous month")
                        : QStringLiteral("Date from next month");
}

SelectionPage::SelectionPage(const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_results(StatResults::of(parent ? parent : this)) {
    addGroup(QStringLiteral("Dátumtól:"), QRect(10, 10, 200, 215));
    addGroup(QStringLiteral("Dátumig:"), QRect(220, 10, 200, 215));
    m_startCalendar = calendar(this, 10, QStringLiteral("startCalendar"));
    m_endCalendar = calendar(this, 220, QStringLiteral("endCalendar"));
    m_startCalendar->installEventFilter(this);
    for (QWidget* child : m_startCalendar->findChildren<QWidget*>())
        child->installEventFilter(this);
    for (int x : {10, 220}) {
        auto* hour = new QLabel(QStringLiteral("Óra:"), this);
        hour->setGeometry(x + 10, 190, 30, 22);
        auto* minute = new QLabel(QStringLiteral("Perc:"), this);
        minute->setGeometry(x + 100, 190, 35, 22);
    }
    m_startHour = timeField(this, 50, 190, 23, 0, QStringLiteral("startHour"));
    m_startMinute = timeField(this, 145, 190, 59, 0, QStringLiteral("startMinute"));
    m_endHour = timeField(this, 260, 190, 23, 23, QStringLiteral("endHour"));
    m_endMinute = timeField(this, 355, 190, 59, 59, QStringLiteral("endMinute"));

    addGroup(QStringLiteral("Felbontás:"), QRect(430, 10, 165, 175));
    m_resolution = new QButtonGroup(this);
    const char* resolutions[] = {"Percenként", "10 percenként", "Óránként", "Naponta", "Havonta"};
    for (int code = 0; code < 5; ++code) {
        auto* b = new QRadioButton(QString::fromUtf8(resolutions[code]), this);
        b->setObjectName(QStringLiteral("resolution%1").arg(code));
        b->setGeometry(450, 43 + 23 * (code - 1), 140, 20);
        m_resolution->addButton(b, code);
    }
    resolutionButton(0)->hide(); // per minute is never offered
    resolutionButton(STAT_RES_10MIN)->setChecked(true);

    addGroup(QStringLiteral("Feldolgozás módja:"), QRect(430, 195, 165, 120));
    m_kind = new QButtonGroup(this);
    const char* kinds[] = {"Forgalom", "URL", "Site"};
    for (int code = 0; code < 3; ++code) {
        auto* b = new QRadioButton(QString::fromUtf8(kinds[code]), this);
        b->setObjectName(QStringLiteral("kind%1").arg(code));
        b->setGeometry(450, 230 + 23 * code, 140, 20);
        m_kind->addButton(b, code);
    }
    kindButton(STAT_KIND_TRAFFIC)->setChecked(true);
    connect(m_kind, &QButtonGroup::idClicked, this, &SelectionPage::kindChanged);

    addGroup(QStringLiteral("Szűkítés:"), QRect(10, 230, 410, 87));
    m_scope = new QButtonGroup(this);
    const std::pair<const char*, int> scopes[] = {{"Egy felhasználó", STAT_SCOPE_USER},
                                                  {"Összes felhasználó", STAT_SCOPE_ALL},
                                                  {"Csoport", kGroupScope}};
    int y = 260;
    for (const auto& [label, code] : scopes) {
        auto* b = new QRadioButton(QString::fromUtf8(label), this);
        b->setObjectName(QStringLiteral("scope%1").arg(code == kGroupScope ? -1 : code));
        b->setGeometry(50, y, 200, 16);
        y += 15;
        m_scope->addButton(b, code);
    }
    scopeButton(STAT_SCOPE_ALL)->setChecked(true);
    connect(m_scope, &QButtonGroup::idClicked, this, [this](int code) {
        setListMode(code == STAT_SCOPE_USER ? Users : code == STAT_SCOPE_ALL ? AllUsers : Groups);
    });
    m_nameLabel = new QLabel(QStringLiteral(" ... "), this);
    m_nameLabel->setObjectName(QStringLiteral("nameLabel"));
    m_nameLabel->setGeometry(260, 250, 150, 18); // above the list, clear of the scopes
    m_names = new QComboBox(this);
    m_names->setObjectName(QStringLiteral("nameList"));
    m_names->setGeometry(260, 270, 150, 22);
    fillNames();
    m_names->setCurrentIndex(-1);
    m_names->setEnabled(false);

    m_start = new RoundButton(this);
    m_start->setObjectName(QStringLiteral("button%1").arg(ID_START_BUTTON));
    SetupActionButton(m_start, 470, 385, 120, 40, QStringLiteral("&Start!"), Qt::black,
                      QColor(120, 140, 210), 14, 8);
    connect(m_start, &QAbstractButton::clicked, this, [this] { start(); });
    // Shown only while a query runs, in the free space left of the start button.
    m_cancel = new RoundButton(this);
    m_cancel->setObjectName(QStringLiteral("button%1").arg(ID_CANCEL_BUTTON));
    SetupActionButton(m_cancel, 340, 385, 120, 40, QStringLiteral("&Mégse"), Qt::black,
                      QColor(120, 140, 210), 14, 8);
    m_cancel->hide();
    connect(m_cancel, &QAbstractButton::clicked, this, [this] { cancel(); });

    addStatusLabel(QRect(9, 325, 589, 35), QStringLiteral("..."));
    addFrameButtons();
}

SelectionPage::~SelectionPage() {
    // Nobody is left to show the running query's outcome.
    if (running()) RemoteRunner::instance()->cancel();
}

QRadioButton* SelectionPage::resolutionButton(int code) const {
    return qobject_cast<QRadioButton*>(m_resolution->button(code));
}

QRadioButton* SelectionPage::kindButton(int code) const {
    return qobject_cast<QRadioButton*>(m_kind->button(code));
}

QRadioButton* SelectionPage::scopeButton(int code) const {
    return qobject_cast<QRadioButton*>(m_scope->button(code == -1 ? kGroupScope : code));
}

void SelectionPage::kindChanged(int kind) {
    // URL and site lists have no resolution: its buttons are greyed, the choice stays.
    for (int code = 1; code < 5; ++code)
        resolutionButton(code)->setEnabled(kind == STAT_KIND_TRAFFIC);
}

void SelectionPage::fillNames() {
    m_names->clear();
    if (m_listMode == Groups) {
        for (int i = 0; i < serverData.groups.Count(); ++i)
            m_names->addItem(fromCp1250(serverData.groups[i].name));
        return;
    }
    for (int i = 0; i < serverData.users.Count(); ++i)
        m_names->addItem(fromCp1250(serverData.users[i].name));
}

void SelectionPage::setListMode(ListMode mode) {
    m_listMode = mode;
    if (mode == AllUsers) {
        m_nameLabel->setText(QStringLiteral(" ... "));
        m_names->setCurrentIndex(-1);
        m_names->setEnabled(false);
        return;
    }
    m_nameLabel->setText(mode == Users ? QStringLiteral("Felhasználó név:")
                                       : QStringLiteral("Csoport név:"));
    fillNames();
    m_names->setCurrentIndex(-1);
    m_names->setEnabled(true);
    m_names->setFocus();
}

void SelectionPage::command(int id, quintptr param) {
    FramePage::command(id, param);
    if (id != CMD_PAGE_SHOWN || m_listMode == AllUsers) return;
    // The editors may have changed the users or groups: the same position of the new list.
    int position = m_names->currentIndex();
    fillNames();
    m_names->setCurrentIndex(position < m_names->count() ? position : -1);
    if (m_listMode == Users) {
        statusLabel()->setStatusText(QStringLiteral("..."));
    } else {
        m_names->setEnabled(true);
        m_names->setFocus();
    }
}

namespace {

// A query on its way: what the worker reads and writes, kept alive by both threads' parts.
struct QueryRun {
    StatRequest request{};
    std::string userName;
    std::string groupName;
    std::string host;
    StatResult result;
    StatOutcome outcome = StatOutcome::ServerFailed;
    QPointer<SelectionPage> page; // the progress goes to its message line
};

// The tool's progress, from the query's watch thread: shown in the message line while the
// query still runs.
void showProgress(uint64_t done, uint64_t total, void* context) {
    QPointer<SelectionPage> page = static_cast<QueryRun*>(context)->page;
    const QString text = QString::fromStdString(StatProgressText(done, total));
    QMetaObject::invokeMethod(
        qApp,
        [page, text] {
            if (page && page->running()) page->statusLabel()->setStatusText(text);
        },
        Qt::QueuedConnection);
}

} // namespace

void SelectionPage::start() {
    if (running()) return;
    statusLabel()->setStatusText(QStringLiteral("..."));
    auto run = std::make_shared<QueryRun>();
    StatRequest& request = run->request;
    request.superCheck = UserList::IsSuperIn;
    request.superContext = &serverData.users;
    run->page = this;
    request.progress = showProgress;
    request.progressContext = run.get();
    StatQuery& q = request.query;
    q.resolution = m_resolution->checkedId() < 0 ? 0 : m_resolution->checkedId();
    q.kind = m_kind->checkedId() < 0 ? 0 : m_kind->checkedId();
    const int scope = m_scope->checkedId();
    q.scope = scope == STAT_SCOPE_USER || scope == STAT_SCOPE_ALL ? scope : STAT_SCOPE_GROUP;
    if (q.scope == STAT_SCOPE_USER) {
        int i = m_names->currentIndex();
        if (i >= 0 && i < serverData.users.Count()) {
            run->userName = serverData.users[i].name;
            request.userIsSuper = serverData.users.IsSuper(run->userName.c_str());
        }
        request.userName = run->userName.c_str();
    }
    if (q.scope == STAT_SCOPE_GROUP) {
        int i = m_names->currentIndex();
        if (i >= 0 && i < serverData.groups.Count()) run->groupName = serverData.groups[i].name;
        request.groupName = run->groupName.c_str();
    }
    const QDate from = m_startCalendar->selectedDate();
    const QDate to = m_endCalendar->selectedDate();
    q.startYear = from.year();
    q.startMonth = from.month();
    q.startDay = from.day();
    q.startHour = m_startHour->value();
    q.startMinute = m_startMinute->value();
    q.endYear = to.year();
    q.endMonth = to.month();
    q.endDay = to.day();
    q.endHour = m_endHour->value();
    q.endMinute = m_endMinute->value();
    run->host = SdHost();

    // The super-user check reads the user list on the worker: the page tree stays locked while
    // the query runs, so no editor changes the list meanwhile.
    setRunning(true);
    RemoteRunner::instance()->run(
        this,
        [run] {
            const char* host = run->host.empty() ? nullptr : run->host.c_str();
            run->outcome = RunStatQuery(host, run->request, &run->result);
        },
        [this, run] {
            setRunning(false);
            const StatOutcome outcome = run->outcome;
            if (outcome == StatOutcome::Chart || outcome == StatOutcome::Table)
                m_results->store(std::move(run->result));
            statusLabel()->setStatusText(QString::fromUtf8(StatOutcomeMessage(outcome)));
            if (outcome == StatOutcome::Chart)
                sendToMain(CMD_SHOW_PAGE, showPageParam(PageRole::StatChart));
            if (outcome == StatOutcome::Table)
                sendToMain(CMD_SHOW_PAGE, showPageParam(PageRole::StatTable));
            emit queryFinished();
        });
}

void SelectionPage::cancel() {
    if (running()) RemoteRunner::instance()->cancel();
}

void SelectionPage::setRunning(bool running) {
    if (running)
        m_wait = std::make_unique<WaitCursor>();
    else
        m_wait.reset();
    m_start->setEnabled(!running);
    m_cancel->setVisible(running);
}

bool SelectionPage::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        auto* widget = qobject_cast<QWidget*>(watched);
        if (widget && (widget == m_startCalendar || m_startCalendar->isAncestorOf(widget))) {
            QPoint pos = m_startCalendar->mapFromGlobal(help->globalPos());
            QToolTip::showText(help->globalPos(), CalendarPartAt(m_startCalendar, pos), widget);
            return true;
        }
    }
    return FramePage::eventFilter(watched, event);
}
