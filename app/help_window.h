// The help window: the console's help document (res/help/orvelan.html) shown at a page's context.
#pragma once

#include <QUrl>
#include <QWidget>

class QPushButton;
class QTextBrowser;

class HelpWindow : public QWidget {
    Q_OBJECT
  public:
    // Shows the one help window (creating it on first use) at the section of `context` (anchor
    // "ctx<context>"; the general section for 0 or an unknown context) and raises it.
    static HelpWindow* showContext(int context);
    // Closes and destroys the help window if it is open (the main window does this on closing).
    static void closeHelp();
    // The open help window, or nullptr.
    static HelpWindow* instance();

    // Where the help document is read from: the built-in ":/res/help/orvelan.html", else the
    // file in the source tree's res/help, else an empty document.
    static QUrl documentUrl();

    int context() const { return m_context; }
    QString anchor() const; // "ctx257"..."ctx266", or "general"
    QTextBrowser* browser() const { return m_browser; }
    QPushButton* closeButton() const { return m_close; }

  private:
    HelpWindow();
    void goTo(int context);

    QTextBrowser* m_browser;
    QPushButton* m_close;
    int m_context = 0;
};
