// The network page: the nine cells of the three lines with their history graphs, the sampling
// timer, and the three ping tests.
#include "pages/system/network_page.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>

#include "app/commands.h"
#include "app/frame_buttons.h"
#include "app/remote_runner.h"
#include "app/status_label.h"
#include "params/def.h"
#include "serverdata/line_speeds.h"
#include "serverdata/sd_host.h"
#include "serverdata/sd_net.h"
#include "widgets/buttons.h"
#include "widgets/cp1250.h"
#include "widgets/history_graph.h"
#include "widgets/panels.h"
#include "widgets/ticker.h"
#include "widgets/waitcursor.h"

namespace {

// Both group captions: "System" 18, navy.
void networkCaptionFont(CzCExtGroup* group) {
    group->SetCaptionFontFace(QStringLiteral("System"));
    group->SetCaptionFontSize(18);
    group->SetCaptionFontColor(QColor(0, 0, 128));
}

constexpr int COLUMN_X[3] = {40, 230, 420}; // Internet, LAN, intranet
constexpr int ROW_Y[3] = {108, 176, 244};   // outgoing, incoming, total
constexpr const char* PING_PARAMS[3] = {"InternetServerForPing", "LanServerForPing",
                                        "FrameServerForPing"};
constexpr const char* PING_FILE = "ping.txt";

} // namespace

NetworkPage::NetworkPage(const PageEntry& entry, QWidget* parent)
    : FramePage(entry, parent), m_timer(new Ticker(this)), m_fetch(SdNetCounters) {
    const QString subject = QStringLiteral("Hálózati kommunikáció");
    m_state = addGroup(QStringLiteral("%1 állapota").arg(subject), QRect(5, 10, 600, 290));
    m_check = addGroup(QStringLiteral("%1 ellenörzése").arg(subject), QRect(5, 302, 600, 80));
    networkCaptionFont(m_state);
    networkCaptionFont(m_check);

    const char* pingTexts[3] = {"Ping &Internet", "Ping &LAN", "Ping I&ntranet"};
    const int pingIds[3] = {ID_PING_INTERNET, ID_PING_LAN, ID_PING_INTRANET};
    const char* columns[3] = {"Internet", "LAN", "Intranet"};
    for (int c = 0; c < 3; c++) {
        m_ping[c] = new RoundButton(this);
        m_ping[c]->setObjectName(QStringLiteral("button%1").arg(pingIds[c]));
        SetupActionButton(m_ping[c], COLUMN_X[c] + 5, 40, 160, 40,
                          QString::fromLatin1(pingTexts[c]), Qt::black, QColor(120, 140, 210), 14,
                          8);
        connect(m_ping[c], &RoundButton::clicked, this, [this, c] { pingTest(c); });
        auto* head = new QLabel(QString::fromLatin1(columns[c]), this);
        head->setAlignment(Qt::AlignCenter);
        head->setGeometry(COLUMN_X[c], 86, 180, 20);
    }
    const QString rows[3] = {QStringLiteral("Kimenõ"), QStringLiteral("Bejõvõ"),
                             QStringLiteral("Összes")};
    for (int r = 0; r < 3; r++) {
        auto* head = new QLabel(rows[r], this);
        // The heads share the 35 pixels left of the graphs.
        head->setGeometry(7, ROW_Y[r], 33, 50);
        head->setFont(QFont(QStringLiteral("MS Sans Serif"), 6));
    }
    for (int i = 0; i < NET_CELLS; i++) {
        QRect place(COLUMN_X[i / 3], ROW_Y[i % 3], 180, 50);
        m_graphs[i] = new HistoryGraph(this);
        m_graphs[i]->setObjectName(QStringLiteral("graph%1").arg(i));
        m_graphs[i]->setGeometry(place);
        m_graphs[i]->SetRange(0, 100);
        m_graphs[i]->SetSpacing(5);
        m_graphs[i]->SetStep(1);
        m_graphs[i]->SetBackColor(QColor(0, 0, 0));
        m_graphs[i]->SetDrawColor(QColor(255, 0, 0));
        // The text sits on the graph's top left corner.
        m_texts[i] = new QLabel(QStringLiteral("0 Kbyte/sec"), this);
        m_texts[i]->setObjectName(QStringLiteral("cell%1").arg(i));
        m_texts[i]->setGeometry(place.x() + 3, place.y() + 2, 174, 16);
        m_texts[i]->setStyleSheet(QStringLiteral("color: yellow; background: transparent;"));
        m_texts[i]->raise();
    }

    StatusLabel* status = addStatusLabel(QRect(10, 327, 590, 52), QStringLiteral("OK!"));
    status->setFontSpec(QStringLiteral("System"), 10, 400);
    status->setWordWrap(true);
    scrollStatus(status, QRect(10, 327, 590, 52));
    addFrameButtons();

    m_timer->setInterval(SAMPLE_MS);
    connect(m_timer, &Ticker::tick, this, &NetworkPage::sample);
    m_timer->start();
}

void NetworkPage::scrollStatus(StatusLabel* status, const QRect& place) {
    // A ping's output is longer than the box: the box scrolls, and each text it is given shows
    // its end (the loss summary) first.
    m_statusBox = new QScrollArea(this);
    m_statusBox->setObjectName(QStringLiteral("statusBox"));
    m_statusBox->setGeometry(place);
    m_statusBox->setFrameShape(QFrame::NoFrame);
    m_statusBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_statusBox->setWidget(status);
    fitStatus();
    // Until the reader moves the bar, a later change of the range keeps the end in view.
    QScrollBar* bar = m_statusBox->verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        if (m_statusFollowsEnd) bar->setValue(maximum);
    });
    connect(bar, &QScrollBar::actionTriggered, this, [this] { m_statusFollowsEnd = false; });
}

void NetworkPage::fitStatus() {
    // The label is as wide as the box (less the scroll bar when its text needs one) and as high
    // as its wrapped text, never lower than the box.
    QLabel* label = statusLabel();
    const QSize box = m_statusBox->size();
    int width = box.width();
    int height = label->heightForWidth(width);
    if (height > box.height()) {
        width -= m_statusBox->verticalScrollBar()->sizeHint().width();
        height = label->heightForWidth(width);
    }
    label->resize(width, std::max(height, box.height()));
}

void NetworkPage::showStatus(const QString& text) {
    statusLabel()->setStatusText(text);
    fitStatus();
    m_statusFollowsEnd = true;
    QScrollBar* bar = m_statusBox->verticalScrollBar();
    bar->setValue(bar->maximum());
}

NetworkPage::~NetworkPage() {
    // Nobody is left to show the running ping or sample.
    if (pinging() || m_sampling) RemoteRunner::instance()->cancel();
}

void NetworkPage::command(int id, quintptr param) {
    if (id == CMD_PAGE_SHOWN) m_shown = true;
    if (id == CMD_PAGE_HIDDEN) m_shown = false;
    FramePage::command(id, param);
}

void NetworkPage::setCountersFetch(CountersFetch fetch) {
    m_fetch = fetch ? std::move(fetch) : CountersFetch(SdNetCounters);
}

void NetworkPage::sample() {
    // A tick whose sample has not come back is skipped, like one that comes late.
    if (!m_shown || !sdServerUsable() || m_sampling) return;
    m_sampling = true;
    struct Sample {
        std::string host;
        std::string text;
        bool answered = false;
    };
    auto run = std::make_shared<Sample>();
    run->host = SdHost();
    RemoteRunner::instance()->runBackground(
        this, [run, fetch = m_fetch] { run->answered = fetch(run->host.c_str(), run->text); },
        [this, run] {
            m_sampling = false;
            showSample(run->answered, run->text);
            emit sampled();
        });
}

void NetworkPage::showSample(bool answered, const std::string& text) {
    // No answer, or a text no server sends: the cells keep what they show.
    if (!answered || NetReadCounters(m_sampler, text.c_str()) < 0) return;
    NetCell cells[NET_CELLS];
    NetTick(m_sampler, lineSpeeds, cells);
    for (int i = 0; i < NET_CELLS; i++) {
        char cell[64];
        m_graphs[i]->AddValue(cells[i].load);
        if (NetCellText(cells[i].bytes, cell, sizeof cell))
            m_texts[i]->setText(QString::fromLatin1(cell));
    }
}

void NetworkPage::flash(const QString& text) {
    statusLabel()->setFlashing(true, 1.0);
    showStatus(text);
}

void NetworkPage::pingTest(int column) {
    if (pinging()) return;
    statusLabel()->setFlashing(false, 1.0, false);
    showStatus(QString());
    const char* target = vxGetParam(PING_PARAMS[column]);
    if (!target) {
        flash(QStringLiteral("\nParameter '%1' is missing !")
                  .arg(QString::fromLatin1(PING_PARAMS[column])));
        return;
    }
    setPinging(true);
    RemoteRunner::instance()->run(
        this,
        [target = std::string(target)] {
            std::remove(PING_FILE);
            SdPing(target.c_str(), PING_FILE);
        },
        [this] {
            setPinging(false);
            showPing();
            emit pinged();
        });
}

void NetworkPage::setPinging(bool on) {
    if (on)
        m_wait = std::make_unique<WaitCursor>();
    else
        m_wait.reset();
    for (RoundButton* button : m_ping)
        button->setEnabled(!on);
}

void NetworkPage::showPing() {
    FILE* in = std::fopen(PING_FILE, "rb");
    if (!in) {
        flash(QStringLiteral("\nCannot open temporary file !"));
        return;
    }
    char text[PING_TEXT_MAX + 1];
    size_t n = std::fread(text, 1, PING_TEXT_MAX, in);
    std::fclose(in);
    text[n] = '\0';
    statusLabel()->setFlashing(false, 1.0, false);
    showStatus(fromCp1250(std::string_view(text, std::strlen(text))));
}
