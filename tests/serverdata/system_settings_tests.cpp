// Tests of the system pages' logic that need no server: the network page's sampling arithmetic
// over counters texts, and the Setup page's load and save over "setup.bin" and the registry store
// in the no-server state.
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "serverdata/line_speeds.h"
#include "serverdata/net_sampling.h"
#include "serverdata/setup_settings.h"
#include "serverdata/startup.h"
#include "tests/support/sd_fixture.h"
#include "winlib/vx_reg.h"

namespace {

LineSpeeds speeds(double internetOut, double lanOut, double intranetOut) {
    LineSpeeds s{};
    s.internetOut = internetOut, s.lanOut = lanOut, s.intranetOut = intranetOut;
    return s;
}

// One tick over a counters text; the cells' texts joined by "|".
std::string tick(NetSampler& sampler, const LineSpeeds& s, const char* text, NetCell* cells) {
    EXPECT_GE(NetReadCounters(sampler, text), 0);
    NetTick(sampler, s, cells);
    std::string joined;
    for (int i = 0; i < NET_CELLS; i++) {
        char cell[64];
        EXPECT_TRUE(NetCellText(cells[i].bytes, cell, sizeof cell));
        joined += (i ? "|" : "") + std::string(cell);
    }
    return joined;
}

TEST(NetSampling, GrowthAboveCapacityCountersGoingDownAndSpeedsOfZero) {
    NetSampler sampler;
    NetCell cells[NET_CELLS];
    LineSpeeds s = speeds(128, 10000, 128);
    tick(sampler, s, "ppp0 1000 2000 eth0 500000 0 eth1 100 100", cells);
    EXPECT_TRUE(sampler.sampled);
    // The Internet line's total grows above its capacity: load 100, the amount in full (every
    // row of a line is measured against its outgoing speed). The server restarted: a negative
    // amount and load, nothing corrects it. The intranet's interface is gone: its values stay,
    // so it shows no traffic.
    EXPECT_EQ(tick(sampler, s, "ppp0 17000 2512 eth0 250000 0", cells),
              "15.6 Kbyte/sec|0.5 Kbyte/sec|16.1 Kbyte/sec|-244.1 Kbyte/sec|0.0 Kbyte/sec|"
              "-244.1 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec");
    EXPECT_EQ(cells[2].bytes, 16512);
    EXPECT_EQ(cells[2].load, 100);
    EXPECT_EQ(cells[3].load, -20);
    EXPECT_EQ(cells[6].bytes, 0);
    EXPECT_EQ(sampler.current[6], 100);
    EXPECT_EQ(std::memcmp(sampler.previous, sampler.current, sizeof sampler.current), 0);
    // A speed of 0 or below shows the amount and no load.
    tick(sampler, speeds(0, -5, 128), "ppp0 19048 2512 eth0 251024 0", cells);
    EXPECT_EQ(cells[0].bytes, 2048);
    EXPECT_EQ(cells[3].bytes, 1024);
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(cells[i].load, 0) << i;
    char small[8];
    EXPECT_FALSE(NetCellText(2048, small, sizeof small));
}

using Cells = std::vector<double>;

Cells current(const NetSampler& sampler) {
    return Cells(sampler.current, sampler.current + NET_CELLS);
}

TEST(NetSampling, CountersOfTwoInterfacesOfOneLineAndOddTexts) {
    NetSampler sampler;
    // The later of two interfaces of one line wins.
    EXPECT_EQ(NetReadCounters(sampler, "ppp0 1 2 eth2 30 40 eth0 5 6"), 3);
    EXPECT_EQ(current(sampler), (Cells{30, 40, 70, 5, 6, 11, 0, 0, 0}));
    EXPECT_EQ(NetReadCounters(sampler, "eth2 30 40 mc0 7 8"), 2);
    EXPECT_EQ(current(sampler), (Cells{7, 8, 15, 5, 6, 11, 0, 0, 0}));
    EXPECT_EQ(NetReadCounters(sampler, "ippp0 9 10"), 1);
    EXPECT_EQ(current(sampler), (Cells{9, 10, 19, 5, 6, 11, 0, 0, 0})); // LAN untouched
    // The last triple lacks its second counter: skipped, not read past the words there are.
    EXPECT_EQ(NetReadCounters(sampler, "eth0 10 20 eth1 30"), 1);
    EXPECT_EQ(current(sampler), (Cells{9, 10, 19, 10, 20, 30, 0, 0, 0}));
    EXPECT_EQ(NetReadCounters(sampler, "eth1"), 0);
    EXPECT_EQ(NetReadCounters(sampler, ""), 0);
    EXPECT_EQ(NetReadCounters(sampler, nullptr), 0);
    // Counters that are not numbers count as 0, also "nan" and "inf".
    EXPECT_EQ(NetReadCounters(sampler, "eth0 x nan eth1 inf 12.5"), 2);
    EXPECT_EQ(current(sampler), (Cells{9, 10, 19, 0, 0, 0, 0, 12.5, 12.5}));
    // A text longer than the server's reply can be is refused whole.
    std::string longText(NET_COUNTERS_TEXT_MAX + 1, 'a');
    longText.replace(0, 9, "eth0 1 2 ");
    EXPECT_EQ(NetReadCounters(sampler, longText.c_str()), -1);
    EXPECT_STREQ(vxLastError().text, "Counters text too long");
    EXPECT_EQ(current(sampler), (Cells{9, 10, 19, 0, 0, 0, 0, 12.5, 12.5}));
    // The longest text: 128 bytes of one-letter words.
    std::string words;
    while (words.size() + 2 <= NET_COUNTERS_TEXT_MAX)
        words += "a ";
    EXPECT_EQ(NetReadCounters(sampler, words.c_str()), 64 / 3);
}

// ---------------------------------------------------------------------------------------------
// The Setup page's load and save, without a server.

class SetupSettingsTest : public DataDirTest {
  protected:
    void SetUp() override {
        DataDirTest::SetUp();
        noServer = 1;
        lineSpeeds = LineSpeeds{};
    }
    void TearDown() override {
        noServer = 0;
        lineSpeeds = LineSpeeds{};
        DataDirTest::TearDown();
    }
    static SetupInput input(const char* proxy, const char* const speeds[6]) {
        SetupInput in{};
        in.servers[0] = proxy;
        in.servers[1] = "inet.example";
        in.servers[2] = "lan.example";
        in.servers[3] = "frame.example";
        for (int i = 0; i < SETUP_SPEEDS; i++)
            in.speeds[i] = speeds[i];
        in.hours[0] = "8", in.hours[1] = "0", in.hours[2] = "16", in.hours[3] = "30";
        return in;
    }
    static std::string setupBin(const LineSpeeds& s) {
        return std::string(reinterpret_cast<const char*>(&s), sizeof s); // little-endian host
    }
    static constexpr const char* TYPED[6] = {"  128", "10000", "64", " 256 ", "abc", "12.5kbit"};
};

TEST_F(SetupSettingsTest, FirstRunWithoutSetupBinOrStore) {
    SetupLoaded loaded = SetupLoad();
    EXPECT_TRUE(loaded.speedsMissing);
    EXPECT_EQ(setupBin(lineSpeeds), setupBin({128, 10000, 128, 128, 10000, 128, 0, 0, 0}));
    EXPECT_EQ(std::vector<int>(loaded.hours, loaded.hours + 4), std::vector<int>({8, 0, 16, 30}));
    for (const char* server : loaded.servers)
        EXPECT_EQ(server, nullptr);
    EXPECT_FALSE(exists("registry.reg"));

    // Saving creates "setup.bin" with the typed speeds and totals of 0 (no load computed them),
    // the registry store with the values in order, and sends nothing anywhere.
    EXPECT_STREQ(SetupSave(input("proxy.example", TYPED)), "");
    EXPECT_EQ(get("setup.bin"), setupBin({128, 10000, 64, 256, 0, 12.5, 0, 0, 0}));
    EXPECT_STREQ(serverData.session.host, "proxy.example");
    EXPECT_EQ(get("registry.reg"),
              "REGEDIT4\r\n\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Tarnwell\\Varrow Remote Administrator\\Setup]\r\n"
              "\"ProxyServerName\"=\"proxy.example\"\r\n"
              "\"InternetServerForPing\"=\"inet.example\"\r\n"
              "\"LanServerForPing\"=\"lan.example\"\r\n"
              "\"FrameServerForPing\"=\"frame.example\"\r\n"
              "\"ActiveNetworkDevice\"=\"X\"\r\n"
              "\"Set\"=\"X\"\r\n");
    EXPECT_FALSE(exists("attandance.txt"));

    // The next load computes the totals; a save after editing keeps the totals of that load.
    loaded = SetupLoad();
    EXPECT_FALSE(loaded.speedsMissing);
    EXPECT_EQ(setupBin(lineSpeeds), setupBin({128, 10000, 64, 256, 0, 12.5, 384, 10000, 76.5}));
    const char* edited[6] = {"1", "2", "3", "4", "5", "6"};
    EXPECT_STREQ(SetupSave(input("proxy.example", edited)), "");
    EXPECT_EQ(get("setup.bin"), setupBin({1, 2, 3, 4, 5, 6, 384, 10000, 76.5}));

    // The server fields show the parameters there are.
    vxResetParams();
    params("ProxyServerName proxy1\nLanServerForPing lan1\n");
    loaded = SetupLoad();
    EXPECT_STREQ(loaded.servers[0], "proxy1");
    EXPECT_EQ(loaded.servers[1], nullptr);
    EXPECT_STREQ(loaded.servers[2], "lan1");
    EXPECT_EQ(loaded.servers[3], nullptr);
}

TEST_F(SetupSettingsTest, SpeedTexts) {
    const struct {
        const char* text;
        double value;
    } cases[] = {{"  128", 128}, {"12.5kbit", 12.5}, {"abc", 0}, {"", 0},     {nullptr, 0},
                 {"-3", -3},     {"inf", 0},         {"nan", 0}, {"1e999", 0}};
    for (const auto& c : cases)
        EXPECT_EQ(SetupSpeedValue(c.text), c.value) << (c.text ? c.text : "(null)");
}

} // namespace
