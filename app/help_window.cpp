// The help window: one top-level window with the help document, opened at a page's context.
#include "app/help_window.h"

#include <QFile>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPointer>
#include <QPushButton>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

#include "app/commands.h"
#include "app/resources.h"

namespace {

QPointer<HelpWindow> theWindow;

bool knownContext(int context) {
    return context >= HELP_NETWORK && context <= HELP_STAT_CHART;
}

} // namespace

QUrl HelpWindow::documentUrl() {
    if (QFile::exists(QStringLiteral(":/res/help/orvelan.html")))
        return QUrl(QStringLiteral("qrc:/res/help/orvelan.html"));
    QString file = QStringLiteral(ORVELAN_SOURCE_DIR "/res/help/orvelan.html");
    if (QFile::exists(file)) return QUrl::fromLocalFile(file);
    return {};
}

HelpWindow::HelpWindow() : QWidget(nullptr, Qt::Window), m_browser(new QTextBrowser(this)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Orvelan - Súgó"));
    setWindowIcon(orvelanIcon(RES_APP_ICON));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    // Closed by its button or by Escape, as a dialog is.
    m_close = new QPushButton(QStringLiteral("&Bezár"), this);
    m_close->setObjectName(QStringLiteral("closeButton"));
    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(6, 6, 6, 6);
    buttons->addStretch();
    buttons->addWidget(m_close);
    layout->addLayout(buttons);
    connect(m_close, &QPushButton::clicked, this, &QWidget::close);
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setContext(Qt::WindowShortcut);
    connect(escape, &QShortcut::activated, this, &QWidget::close);
    m_browser->setOpenExternalLinks(false);
    QUrl url = documentUrl();
    if (url.isEmpty())
        m_browser->setHtml(QStringLiteral("<h1 id=\"general\">Orvelan</h1>"));
    else
        m_browser->setSource(url);
    resize(600, 480);
}

QString HelpWindow::anchor() const {
    return knownContext(m_context) ? QStringLiteral("ctx%1").arg(m_context)
                                   : QStringLiteral("general");
}

void HelpWindow::goTo(int context) {
    m_context = context;
    m_browser->scrollToAnchor(anchor());
}

HelpWindow* HelpWindow::showContext(int context) {
    if (!theWindow) theWindow = new HelpWindow;
    theWindow->goTo(context);
    theWindow->show();
    theWindow->raise();
    return theWindow;
}

HelpWindow* HelpWindow::instance() {
    return theWindow;
}

void HelpWindow::closeHelp() {
    if (!theWindow) return;
    HelpWindow* window = theWindow;
    theWindow = nullptr;
    window->close();
    delete window;
}
