// The network page ("Rendszer / Hálózat"): the throughput of the server's three lines, sampled
// once a second while the page is shown, and ping tests run on the server. Both talk to the
// server on the remote worker: the sampling as background work (it never locks the page tree),
// a ping as an operation with the wait cursor.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "pages/frame_page.h"
#include "serverdata/net_sampling.h"

class CzCExtGroup;
class HistoryGraph;
class QLabel;
class QScrollArea;
class StatusLabel;
class Ticker;
class WaitCursor;

class NetworkPage : public FramePage {
    Q_OBJECT
  public:
    static constexpr int ID_PING_INTERNET = 1036, ID_PING_LAN = 1038, ID_PING_INTRANET = 1040;
    static constexpr int SAMPLE_MS = 1000;
    static constexpr int PING_TEXT_MAX = 2047; // bytes of the ping output shown

    // Fetches the counters text of a host into text: true when the server answered.
    using CountersFetch = std::function<bool(const char* host, std::string& text)>;

    NetworkPage(const PageEntry& entry, QWidget* parent);
    ~NetworkPage() override;

    // CMD_PAGE_SHOWN starts the sampling, CMD_PAGE_HIDDEN stops it.
    void command(int id, quintptr param = 0) override;

    // One sampling tick (the timer's): does nothing while the page is not shown, in the no-server
    // state, without "ProxyServerName", or while the last tick's sample has not come back (the
    // tick is skipped). The sample is taken on the remote worker; the cells change when it is
    // back (sampled), unless the server did not answer.
    void sample();
    // The ping test of a column: 0 Internet, 1 LAN, 2 intranet. The ping runs on the remote
    // worker, the ping buttons are greyed meanwhile; pinged when its outcome is shown.
    void pingTest(int column);
    bool sampling() const { return m_sampling; }
    bool pinging() const { return m_wait != nullptr; }

    // Replaces the counters fetch (tests); an empty function restores the server's.
    void setCountersFetch(CountersFetch fetch);

    bool shown() const { return m_shown; }
    Ticker* timer() const { return m_timer; }
    const NetSampler& sampler() const { return m_sampler; }
    // Cells in the order Internet out, in, total; LAN ...; intranet ...
    QLabel* cellText(int cell) const { return m_texts[cell]; }
    HistoryGraph* cellGraph(int cell) const { return m_graphs[cell]; }
    RoundButton* pingButton(int column) const { return m_ping[column]; }
    CzCExtGroup* stateGroup() const { return m_state; }
    CzCExtGroup* checkGroup() const { return m_check; }
    // The scrolling box that holds the status label.
    QScrollArea* statusBox() const { return m_statusBox; }

  signals:
    // A sample came back (whether or not the server answered).
    void sampled();
    void pinged();

  private:
    void scrollStatus(StatusLabel* status, const QRect& place);
    void fitStatus();
    // Shows a status text with its end in view.
    void showStatus(const QString& text);
    void flash(const QString& text);
    void showSample(bool answered, const std::string& text);
    void setPinging(bool on);
    void showPing();

    CzCExtGroup *m_state, *m_check;
    Ticker* m_timer;
    bool m_shown = false;
    bool m_sampling = false;
    NetSampler m_sampler;
    CountersFetch m_fetch;
    QLabel* m_texts[NET_CELLS];
    HistoryGraph* m_graphs[NET_CELLS];
    RoundButton* m_ping[3];
    QScrollArea* m_statusBox = nullptr;
    bool m_statusFollowsEnd = true;     // the status box keeps its end in view
    std::unique_ptr<WaitCursor> m_wait; // while a ping runs
};
