// The base of every page of the console: the command entry of the page contract, the access rule,
// help and the Enter/Escape filter.
#pragma once

#include <QWidget>

// What receives the commands that pages send upwards (MainWindow implements it).
class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    virtual void command(int id, quintptr param) = 0;
};

class Page : public QWidget {
    Q_OBJECT
  public:
    // A page is a child of the main window, created hidden, swallowing Enter and Escape.
    explicit Page(QWidget* parent);

    // The page's command entry. The default handles CMD_PAGE_SHOWN by calling
    // applyAccess(editingAllowed()) and ignores everything else.
    virtual void command(int id, quintptr param = 0);

    // Enables or disables the page's editing and saving controls. The default does nothing.
    virtual void applyAccess(bool editing);

    // The access rule: editing is allowed when SelectedLevel == 1 and GrantedLevel == 1.
    static bool editingAllowed();

    // The page's help context (commands.h); HELP_NONE by default.
    virtual int helpContext() const;

    // Enter and Escape pressed anywhere in the page are dropped before any control sees them
    // (on by default; the Setup page turns it off).
    void setSwallowEnterEscape(bool on);
    bool swallowsEnterEscape() const { return m_swallowEnterEscape; }

    // Opens the help window at helpContext().
    void showHelp();

  protected:
    // Delivers a command synchronously to the nearest ancestor that is a CommandTarget (the main
    // window); returns when it has been handled. Does nothing without such an ancestor.
    void sendToMain(int id, quintptr param = 0);

  private:
    bool m_swallowEnterEscape = true;
};

// Installs (once) the application-wide filter that drops Enter and Escape key presses meant for
// a widget inside a swallowing Page, or inside a window marked with markSwallowsEnterEscape.
void installEnterEscapeFilter();
// Marks a top-level window whose own controls (outside pages) swallow Enter and Escape too.
void markSwallowsEnterEscape(QWidget* window);
