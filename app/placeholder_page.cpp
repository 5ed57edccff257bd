// Frame-only pages: what a page of the console shows before its content is built.
#include "placeholder_page.h"

#include <QLabel>

#include "buttons.h"
#include "commands.h"
#include "main_window.h"
#include "page_frame.h"
#include "resources.h"

namespace {

class PlaceholderPage : public Page {
  public:
    PlaceholderPage(int group, int page, QWidget* parent)
        : Page(parent), m_help(pageHelpContext(group, page)) {
        auto* title = new QLabel(MainWindow::pageTitle(group, page), this);
        title->setGeometry(20, 20, 580, 30);
        title->setFont(QFont(QStringLiteral("System"), 14));
        if (m_help != HELP_NONE) {
            auto* help = new RoundButton(this);
            SetupHelpButton(help, orvelanIcon(RES_HELP_ICON));
            connect(help, &RoundButton::clicked, this, &Page::showHelp);
        }
        bool print = group == 1 || (group == 2 && page > 0);
        bool refresh = group == 0 && page >= 1 && page <= 3;
        if (print) {
            auto* button = new RoundButton(this);
            SetupPrintButton(button, orvelanIcon(RES_PRINT_ICON));
        } else if (refresh) {
            auto* button = new RoundButton(this);
            SetupRefreshButton(button, orvelanIcon(RES_REFRESH_ICON));
            button->setVisible(page != 1); // the network page's refresh button is hidden
        }
        if (group == 0 && page == 4) setSwallowEnterEscape(false); // Setup
    }
    int helpContext() const override { return m_help; }

  private:
    int m_help;
};

} // namespace

int pageHelpContext(int group, int page) {
    static const int contexts[3][5] = {
        {HELP_NONE, HELP_NETWORK, HELP_SYSTEM_LOG, HELP_DAEMON_LOG, HELP_SETUP},
        {HELP_USER_GROUPS, HELP_USERS, HELP_URL_CONTROL, HELP_NONE, HELP_NONE},
        {HELP_STAT_SELECTION, HELP_STAT_TABLE, HELP_STAT_CHART, HELP_NONE, HELP_NONE}};
    if (group < 0 || group >= 3 || page < 0 || page >= 5) return HELP_NONE;
    return contexts[group][page];
}

Page* createPlaceholderPage(int group, int page, QWidget* parent) {
    return new PlaceholderPage(group, page, parent);
}
