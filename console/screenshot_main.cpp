// orvelan_screenshot: runs the console's start-up and main window as the console does, logs on,
// and saves a PNG of the window on every page and of each dialog, so a person can look at what
// the console shows without clicking through it.
//
// usage: orvelan_screenshot OUTDIR [PASSWORD]
//   PASSWORD  the administrator's console password (default: $ORVELAN_DEMO_ADMIN_PASSWORD);
//             with none the pages are visited without a logon (they then all show LogOn).
// Message boxes are not shown but written to standard error. Exit status: 0 all pictures saved,
// 1 a picture could not be saved, 2 usage.
#include <cstdio>
#include <string>

#include <QApplication>
#include <QCalendarWidget>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QRadioButton>
#include <QTimer>
#include <QTreeWidget>

#include "app/commands.h"
#include "app/help_window.h"
#include "app/logon_page.h"
#include "app/main_window.h"
#include "app/password_dialog.h"
#include "app/remote_runner.h"
#include "app/startup_window.h"
#include "app/text_input_dialog.h"
#include "pages/editors/editor_dialogs.h"
#include "pages/editors/url_control_page.h"
#include "pages/page_table.h"
#include "pages/stats/stats_pages.h"
#include "pages/system/network_page.h"
#include "serverdata/startup.h"
#include "stats/stat_query.h"
#include "widgets/dialog_answers.h"
#include "widgets/messagebox.h"

namespace {

QDir outDir;
constexpr int NETWORK_SAMPLING_MS = 4500; // time the network page gets to sample
constexpr int REMOTE_WAIT_MS = 60000;     // the most a page's remote work is waited for
int failures = 0;

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

// Lets the remote worker hand back every outcome queued so far.
void waitRemote() {
    RemoteRunner* runner = RemoteRunner::instance();
    if (!runner->busy()) return;
    QEventLoop idle;
    QObject::connect(runner, &RemoteRunner::busyChanged, &idle, [&idle](bool busy) {
        if (!busy) idle.quit();
    });
    idle.exec();
}

void save(QWidget* widget, const QString& name) {
    settle();
    QString path = outDir.filePath(name + QStringLiteral(".png"));
    if (!widget->grab().save(path)) {
        fprintf(stderr, "orvelan_screenshot: cannot write %s\n", qPrintable(path));
        ++failures;
        return;
    }
    printf("%s\n", qPrintable(path));
}

void reportBoxes() {
    for (const MessageBox::Shown& box : MessageBox::shown())
        fprintf(stderr, "orvelan_screenshot: message box \"%s\": %s\n", qPrintable(box.title),
                qPrintable(box.text));
    MessageBox::clearShown();
}

// The address of a page as an ASCII file name: "page-g-p-Title" ("Rendszer / Hálózat" gives
// "page-0-1-Rendszer-Halozat").
QString pageName(const PageEntry& entry) {
    QString title = QString::fromUtf8(entry.title).normalized(QString::NormalizationForm_D);
    title.replace(QStringLiteral(" / "), QStringLiteral("-"));
    QString ascii;
    for (QChar c : title) {
        if (c.isMark()) continue;
        ascii += c == QLatin1Char(' ') ? QLatin1Char('_') : c;
    }
    return QStringLiteral("page-%1-%2-%3").arg(entry.group).arg(entry.page).arg(ascii);
}

void saveDialogs(QWidget* owner) {
    const char* modes[3] = {"new", "change", "enter"};
    for (int mode = 0; mode < 3; ++mode) {
        PasswordDialog dialog(owner);
        dialog.setMode(mode);
        dialog.show();
        dialog.layOut();
        save(&dialog, QStringLiteral("dialog-password-%1-%2").arg(mode).arg(modes[mode]));
        dialog.hide();
    }
    TextInputDialog input(owner);
    input.setTitle(QStringLiteral("Uj lista elem:"));
    input.setText(QStringLiteral("www.example.hu"));
    input.show();
    save(&input, QStringLiteral("dialog-text-input"));

    // The user data dialog with the first user (e-mail shown when the user has mail), and the
    // group dialog with the first group.
    UserDataDialog user([](const char* o, const char* n, char* e,
                           size_t s) { return serverData.passwords.Change(o, n, e, s); },
                        owner);
    if (serverData.users.Count() > 0)
        user.setRecord(UserDataDialog::ModifyUser, serverData.users[0],
                       serverData.users[0].password);
    else
        user.setRecord(UserDataDialog::NewUser, UserRecord{}, "");
    user.show();
    save(&user, QStringLiteral("dialog-user-data"));
    user.hide();
    GroupDialog group(owner);
    if (serverData.groups.Count() > 0) {
        group.setName(QByteArray(serverData.groups[0].name));
        group.setAllow(serverData.groups[0].kind[0] != 'd');
    }
    group.show();
    save(&group, QStringLiteral("dialog-group"));
    group.hide();
    input.hide();
    for (int context : {HELP_NONE, HELP_NETWORK, HELP_USERS, HELP_STAT_CHART}) {
        HelpWindow* help = HelpWindow::showContext(context);
        save(help, QStringLiteral("help-%1").arg(help->anchor()));
    }
    HelpWindow::closeHelp();
}

// Queries from the selection page on the demo server's access log: the URL and site tables of
// the last 30 days, and a chart for each resolution. The page sends the window to the result.
void saveStatistics(MainWindow& window) {
    auto* selection = dynamic_cast<SelectionPage*>(window.page(PageRole::StatSelection));
    if (!selection) return;
    window.command(CMD_SHOW_PAGE, showPageParam(PageRole::StatSelection));
    const QDate today = QDate::currentDate();
    // The busiest recent day: the last working day before today.
    QDate workday = today.addDays(-1);
    while (workday.dayOfWeek() > 5)
        workday = workday.addDays(-1);
    struct Query {
        int kind, resolution, days;
        const char* name;
        QDate last;
    };
    const Query queries[] = {
        {STAT_KIND_URL, STAT_RES_DAY, 30, "stats-table-url", today},
        {STAT_KIND_SITE, STAT_RES_DAY, 30, "stats-table-site", today},
        {STAT_KIND_TRAFFIC, STAT_RES_10MIN, 1, "stats-chart-10min", workday},
        {STAT_KIND_TRAFFIC, STAT_RES_HOUR, 3, "stats-chart-hour", workday},
        {STAT_KIND_TRAFFIC, STAT_RES_DAY, 30, "stats-chart-day", today},
        {STAT_KIND_TRAFFIC, STAT_RES_MONTH, 365, "stats-chart-month", today},
    };
    for (const Query& q : queries) {
        window.command(CMD_SHOW_PAGE, showPageParam(PageRole::StatSelection));
        selection->kindButton(q.kind)->click();
        selection->resolutionButton(q.resolution)->setChecked(true);
        selection->startCalendar()->setSelectedDate(q.last.addDays(1 - q.days));
        selection->endCalendar()->setSelectedDate(q.last);
        // The query runs on the remote worker: its outcome is shown once it is back.
        QEventLoop back;
        QObject::connect(selection, &SelectionPage::queryFinished, &back, &QEventLoop::quit);
        selection->start();
        if (selection->running()) back.exec();
        reportBoxes();
        save(&window, QString::fromLatin1(q.name));
    }
    selection->kindButton(STAT_KIND_TRAFFIC)->click();
    window.command(CMD_SHOW_PAGE, showPageParam(PageRole::StatSelection));
    save(&window, QStringLiteral("stats-selection-after"));
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Orvelan"));
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: orvelan_screenshot OUTDIR [PASSWORD]\n");
        return 2;
    }
    outDir = QDir(QString::fromLocal8Bit(argv[1]));
    if (!outDir.mkpath(QStringLiteral("."))) {
        fprintf(stderr, "orvelan_screenshot: cannot create %s\n", argv[1]);
        return 1;
    }
    QString password = argc == 3 ? QString::fromLocal8Bit(argv[2])
                                 : qEnvironmentVariable("ORVELAN_DEMO_ADMIN_PASSWORD");
    DialogAnswers::setTestMode(true);

    // The start-up as main.cpp runs it; its message would only be logged here.
    ShowStartupOutcome(RunStartup(""));
    reportBoxes();

    const PageRegistry& pages = consolePages();
    MainWindow window(pages, -1);
    window.show();
    save(&window, QStringLiteral("00-start"));
    window.startupLoad();
    reportBoxes();
    save(&window, QStringLiteral("01-logon"));

    // The group pictures, before and after their partner swap.
    QTreeWidget* tree = window.tree();
    LogOnPage* logOn = window.logOnPage();
    if (!password.isEmpty() && logOn) {
        logOn->levelSwitch()->setChecked(true);
        logOn->levelChanged();
        DialogAnswers::password(password);
        logOn->logOn();
        RemoteRunner::instance()->waitForIdle(REMOTE_WAIT_MS);
        reportBoxes();
        if (!logOn->loggedOn()) fprintf(stderr, "orvelan_screenshot: the logon failed\n");
    }
    for (int g = 0; g < static_cast<int>(pages.groups.size()); ++g) {
        tree->setCurrentItem(window.groupNode(g));
        save(&window, QStringLiteral("group-%1").arg(g));
        const PageGroup& group = pages.groups[static_cast<size_t>(g)];
        if (group.partnerPictureId != 0) {
            emit window.picture(group.pictureId)->clicked(group.pictureId);
            save(&window, QStringLiteral("group-%1-partner").arg(g));
        }
    }
    // Every page, in the order of the tree.
    for (int g = 0; g < static_cast<int>(pages.groups.size()); ++g) {
        for (int p = 0; p < pages.pageCount(g); ++p) {
            // The URL list page shows the first group's list.
            const PageEntry& entry = *pages.find(g, p);
            auto* urls = dynamic_cast<UrlControlPage*>(window.page(g, p));
            if (urls && serverData.groups.Count() > 0) urls->chooseGroup(0);
            waitRemote();
            window.command(CMD_SHOW_PAGE, showPageParam(entry.role));
            waitRemote();
            reportBoxes();
            // The network page samples once a second: a few samples fill its cells and graphs.
            if (entry.role == PageRole::Network) {
                QEventLoop wait;
                QTimer::singleShot(NETWORK_SAMPLING_MS, &wait, &QEventLoop::quit);
                wait.exec();
            }
            save(&window, pageName(entry));
            // The network page once more with the output of its first ping test.
            if (auto* network = dynamic_cast<NetworkPage*>(window.page(g, p))) {
                network->pingTest(0);
                waitRemote();
                reportBoxes();
                save(&window, pageName(entry) + QStringLiteral("-ping"));
            }
            // The editor pages once more while editing, then abandoned.
            if (auto* editor = dynamic_cast<EditorPage*>(window.page(g, p))) {
                editor->loadForEditing();
                waitRemote();
                reportBoxes();
                save(&window, pageName(entry) + QStringLiteral("-editing"));
                editor->abandon();
                waitRemote();
            }
        }
    }
    saveStatistics(window);
    saveDialogs(&window);
    window.close();
    return failures == 0 ? 0 : 1;
}
