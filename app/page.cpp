// The page base: command entry, access rule, help and the Enter/Escape filter.
#include "app/page.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPointer>

#include "app/commands.h"
#include "app/help_window.h"
#include "serverdata/server_data.h"

namespace {

constexpr const char* SWALLOW_PROPERTY = "orvelanSwallowsEnterEscape";

// Drops Enter and Escape before the control that has the focus sees them, when that control lies
// in a swallowing page or in a marked window outside every page.
class EnterEscapeFilter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease) return false;
        int key = static_cast<QKeyEvent*>(event)->key();
        if (key != Qt::Key_Return && key != Qt::Key_Enter && key != Qt::Key_Escape) return false;
        if (!watched->isWidgetType()) return false;
        for (auto* w = static_cast<QWidget*>(watched); w; w = w->parentWidget()) {
            if (auto* page = qobject_cast<Page*>(w)) return page->swallowsEnterEscape();
            if (w->isWindow()) return w->property(SWALLOW_PROPERTY).toBool();
        }
        return false;
    }
};

QPointer<EnterEscapeFilter> filterObject;

} // namespace

void installEnterEscapeFilter() {
    if (filterObject || !qApp) return;
    filterObject = new EnterEscapeFilter(qApp);
    qApp->installEventFilter(filterObject);
}

void markSwallowsEnterEscape(QWidget* window) {
    window->setProperty(SWALLOW_PROPERTY, true);
    installEnterEscapeFilter();
}

Page::Page(QWidget* parent) : QWidget(parent) {
    hide();
    installEnterEscapeFilter();
}

void Page::command(int id, quintptr) {
    if (id == CMD_PAGE_SHOWN) applyAccess(editingAllowed());
}

void Page::applyAccess(bool) {}

bool Page::editingAllowed() {
    return serverData.session.SelectedLevel == 1 && serverData.session.GrantedLevel == 1;
}

int Page::helpContext() const {
    return HELP_NONE;
}

void Page::setSwallowEnterEscape(bool on) {
    m_swallowEnterEscape = on;
}

void Page::showHelp() {
    HelpWindow::showContext(helpContext());
}

void Page::sendToMain(int id, quintptr param) {
    for (QWidget* w = parentWidget(); w; w = w->parentWidget()) {
        if (auto* target = dynamic_cast<CommandTarget*>(w)) {
            target->command(id, param);
            return;
        }
    }
}
