// The page table and the pages' frames, the artwork, the help document and the editors' refusal
// texts.
#include <iterator>

#include <QFile>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTextBrowser>

#include "app/commands.h"
#include "app/logon_page.h"
#include "app/resources.h"
#include "pages/editors/refusal_texts.h"
#include "pages/frame_page.h"
#include "tests/gui/app_fixture.h"
#include "widgets/buttons.h"

namespace {

// The right-hand frame button a page shows, found by its text among all of the page's buttons
// (-1 when there are several).
int shownRightButton(QWidget* page) {
    int found = static_cast<int>(FrameButton::None), count = 0;
    for (RoundButton* b : page->findChildren<RoundButton*>()) {
        if (b->text() == "&Nyomtat")
            found = static_cast<int>(b->isHidden() ? FrameButton::HiddenPrint : FrameButton::Print);
        else if (b->text() == "&Frissít")
            found =
                static_cast<int>(b->isHidden() ? FrameButton::HiddenRefresh : FrameButton::Refresh);
        else
            continue;
        ++count;
    }
    return count > 1 ? -1 : found;
}

class PagesTest : public AppTest {
  protected:
    QWidget owner;
};

// Each row's page: hidden, with its help context, Enter/Escape let through on Setup only, one
// visible help button and the table's right-hand button, and its visible parts inside the page
// area clear of the frame buttons.
TEST_F(PagesTest, EveryRowBuildsItsPageInsideItsFrame) {
    const QRect area(QPoint(0, 0), QSize(634, 476)); // the main window's page area
    for (const PageEntry& entry : consolePages().pages) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        Page* page = entry.create(entry, &owner);
        ASSERT_NE(page, nullptr);
        EXPECT_EQ(page->parentWidget(), &owner);
        EXPECT_TRUE(page->isHidden());
        EXPECT_EQ(page->helpContext(), entry.helpContext);
        EXPECT_EQ(page->swallowsEnterEscape(), entry.helpContext != HELP_SETUP);
        if (entry.group == 0 && entry.page == 0) {
            EXPECT_NE(dynamic_cast<LogOnPage*>(page), nullptr);
            continue;
        }
        auto* frame = static_cast<FramePage*>(page);
        int helpButtons = 0;
        for (RoundButton* b : page->findChildren<RoundButton*>())
            helpButtons += b->text() == "&Súgó" && !b->isHidden();
        EXPECT_EQ(helpButtons, 1);
        EXPECT_EQ(shownRightButton(page), static_cast<int>(entry.rightButton));

        QList<QWidget*> buttons = {frame->helpButton(), frame->printButton(),
                                   frame->refreshButton()};
        for (QWidget* child : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            // A part kept wholly outside the visible area (a page's hidden helper) is left alone.
            if (child->isWindow() || !child->geometry().intersects(area)) continue;
            EXPECT_TRUE(area.contains(child->geometry())) << child->metaObject()->className();
            if (buttons.contains(child)) continue;
            for (QWidget* button : buttons)
                EXPECT_FALSE(button && child->geometry().intersects(button->geometry()))
                    << child->metaObject()->className() << " " << child->objectName().toStdString();
        }
    }
}

// The bare frame of a row: its buttons without a page's content behind them.
class BareFrame : public FramePage {
  public:
    BareFrame(const PageEntry& entry, QWidget* parent) : FramePage(entry, parent) {
        addFrameButtons();
    }
};

TEST_F(PagesTest, FrameButtonsAnswerThroughTheirPage) {
    for (const PageEntry& entry : consolePages().pages) {
        SCOPED_TRACE(testing::Message() << entry.group << "," << entry.page);
        BareFrame page(entry, &owner);
        if (entry.helpContext == HELP_NONE) {
            // LogOn's row has no help context: its frame has no buttons at all.
            EXPECT_EQ(page.findChildren<RoundButton*>().size(), 0);
            continue;
        }
        QSignalSpy printed(&page, &FramePage::printRequested);
        QSignalSpy refreshed(&page, &FramePage::refreshRequested);
        if (page.printButton()) page.printButton()->click();
        if (page.refreshButton()) page.refreshButton()->click();
        const FrameButton b = entry.rightButton;
        EXPECT_EQ(printed.count(),
                  b == FrameButton::Print || b == FrameButton::HiddenPrint ? 1 : 0);
        EXPECT_EQ(refreshed.count(),
                  b == FrameButton::Refresh || b == FrameButton::HiddenRefresh ? 1 : 0);
        page.helpButton()->click();
        ASSERT_NE(HelpWindow::instance(), nullptr);
        EXPECT_EQ(HelpWindow::instance()->anchor(), QStringLiteral("ctx%1").arg(entry.helpContext));
        HelpWindow::closeHelp();
    }
}

TEST_F(PagesTest, HelpDocumentHasEveryContextInOneWindow) {
    QFile file(HelpWindow::documentUrl().toString().replace("qrc:", ":"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
    const QString html = QString::fromUtf8(file.readAll());
    EXPECT_EQ(html.count("<a name=\"general\">"), 1);
    for (int context = HELP_NETWORK; context <= HELP_STAT_CHART; ++context)
        EXPECT_EQ(html.count(QStringLiteral("<a name=\"ctx%1\">").arg(context)), 1) << context;

    HelpWindow* help = HelpWindow::showContext(HELP_USERS);
    ASSERT_NE(help, nullptr);
    EXPECT_EQ(help->anchor(), "ctx262");
    EXPECT_TRUE(help->browser()->toPlainText().contains("Felhasználók"));
    EXPECT_EQ(HelpWindow::showContext(0), help); // one window, another place
    EXPECT_EQ(help->anchor(), "general");
    HelpWindow::closeHelp();
    EXPECT_EQ(HelpWindow::instance(), nullptr);

    // Escape and the close button close it, as they close a dialog.
    help = HelpWindow::showContext(HELP_USERS);
    help->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(help));
    QTest::keyClick(help->browser(), Qt::Key_Escape);
    EXPECT_FALSE(help->isVisible());
    HelpWindow::closeHelp();
    help = HelpWindow::showContext(HELP_USERS);
    ASSERT_NE(help->closeButton(), nullptr);
    EXPECT_EQ(help->closeButton()->text(), "&Bezár");
    help->closeButton()->click();
    EXPECT_FALSE(help->isVisible());
    HelpWindow::closeHelp();
}

TEST_F(PagesTest, ArtworkIsBuiltIn) {
    for (int id : {128, 147, 150, 169, 178, 180, 185, 186, 187, 188, 189, 190}) {
        EXPECT_TRUE(orvelanResourceExists(id)) << id;
        EXPECT_FALSE(QImage(QStringLiteral(":/res/%1.png").arg(id)).isNull()) << id;
    }
    // Icons draw on a transparent ground.
    for (int id : {147, 150, 180})
        EXPECT_EQ(QImage(QStringLiteral(":/res/%1.png").arg(id)).pixelColor(0, 0).alpha(), 0);
}

// Every refusal code has the page text of its family; what no page lets be typed keeps the data
// layer's reason. (The editor tests show the name rule's whole text in the dialogs.)
TEST(RefusalTextsTest, EveryCodeHasItsPageText) {
    const QString field = "L nem tartalmazhat kettőspontot (:), aposztrófot (') és sorvéget !";
    const QString url = "L nem tartalmazhat szóközt és vezérlő karaktert !";
    const QString own; // the data layer's reason
    using R = SdRefusal;
    const struct {
        SdRefusal code;
        QString text;
    } cases[] = {
        {R::None, ""},
        {R::TooLong, field},
        {R::Separator, field},
        {R::Quote, field},
        {R::Control, field},
        {R::Name, "L nem tartalmazhat szóközt, vezérlő karaktert"}, // its beginning
        {R::GroupNameTooLong, "L legfeljebb 31 karakter lehet !"},
        {R::KindLength, own},
        {R::KindCharacter, own},
        {R::PathEmpty, own},
        {R::PathTooLong, own},
        {R::PathDash, own},
        {R::PathCharacters, own},
        {R::UrlEmpty, url},
        {R::UrlTooLong, "L legfeljebb 511 karakter lehet !"},
        {R::UrlCharacters, url},
    };
    static_assert(std::size(cases) == static_cast<size_t>(R::UrlCharacters) + 1);
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(i);
        ASSERT_EQ(c.code, static_cast<R>(i)); // every code, in order
        const QString text = RefusalText(c.code, "L");
        if (c.text.isNull())
            EXPECT_EQ(text, QString::fromLatin1(sdRefusalReason(c.code, "")));
        else if (c.code == R::Name)
            EXPECT_TRUE(text.startsWith(c.text)) << text.toStdString();
        else
            EXPECT_EQ(text, c.text);
    }
}

} // namespace
