// Tests of the system pages' logic that need no server: the network page's sampling arithmetic
// over counters texts, and the Setup page's load and save over "setup.bin" and the registry store
// in the no-server state.
#include <cstring>
#include <gtest/gtest.h>
#include <string>

#include "line_speeds.h"
#include "net_sampling.h"
#include "sd_fixture.h"
#include "setup_settings.h"
#include "startup.h"
#include "vx_reg.h"

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

TEST(NetSampling, FirstTickShowsNoTrafficThenGrowthAgainstTheOutgoingSpeed) {
    NetSampler sampler;
    NetCell cells[NET_CELLS];
    LineSpeeds s = speeds(128, 10000, 128);
    EXPECT_EQ(tick(sampler, s, "lo 5 5 ppp0 1000 2000 eth0 10 20 eth1 7 8", cells),
              "0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|"
              "0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec");
    EXPECT_TRUE(sampler.sampled);
    for (const NetCell& c : cells)
        EXPECT_EQ(c.load, 0);

    // 16,000 bytes out on a 128 kbit/s Internet line: 100 %, 15.6 Kbyte/sec. 1,250,000 bytes is
    // the 100 % mark of a 10,000 kbit/s LAN.
    EXPECT_EQ(tick(sampler, s, "lo 9 9 ppp0 17000 2512 eth0 625010 1250020 eth1 7 8", cells),
              "15.6 Kbyte/sec|0.5 Kbyte/sec|16.1 Kbyte/sec|610.4 Kbyte/sec|1220.7 Kbyte/sec|"
              "1831.1 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec");
    EXPECT_EQ(cells[0].bytes, 16000);
    EXPECT_EQ(cells[0].load, 100);
    EXPECT_EQ(cells[1].load, 512.0 * 100 / 16000);
    // Growth above the capacity: load 100, the amount in full. Every row of a line is measured
    // against its outgoing speed.
    EXPECT_EQ(cells[2].bytes, 16512);
    EXPECT_EQ(cells[2].load, 100);
    EXPECT_EQ(cells[3].load, 50);
    EXPECT_EQ(cells[4].load, 100);
    EXPECT_EQ(cells[5].load, 100);
    EXPECT_EQ(std::memcmp(sampler.previous, sampler.current, sizeof sampler.current), 0);
}

TEST(NetSampling, CounterGoingDownAndLinesWithoutInterfaces) {
    NetSampler sampler;
    NetCell cells[NET_CELLS];
    LineSpeeds s = speeds(128, 10000, 128);
    tick(sampler, s, "eth0 500000 0 eth1 100 100", cells);
    // The server restarted: a negative amount and load, nothing corrects it. The intranet's
    // interface is gone: its values stay, so it shows no traffic.
    std::string text = tick(sampler, s, "eth0 250000 0", cells);
    EXPECT_EQ(text, "0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|-244.1 Kbyte/sec|0.0 Kbyte/sec|"
                    "-244.1 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec");
    EXPECT_EQ(cells[3].load, -20);
    EXPECT_EQ(cells[6].bytes, 0);
    EXPECT_EQ(sampler.current[6], 100);
}

TEST(NetSampling, TwoInterfacesOfOneLineTheLaterWins) {
    NetSampler sampler;
    EXPECT_EQ(NetReadCounters(sampler, "ppp0 1 2 eth2 30 40 eth0 5 6"), 3);
    EXPECT_EQ(sampler.current[0], 30);
    EXPECT_EQ(sampler.current[1], 40);
    EXPECT_EQ(sampler.current[2], 70);
    EXPECT_EQ(NetReadCounters(sampler, "eth2 30 40 mc0 7 8"), 2);
    EXPECT_EQ(sampler.current[2], 15);
    EXPECT_EQ(NetReadCounters(sampler, "ippp0 9 10"), 1);
    EXPECT_EQ(sampler.current[2], 19);
    EXPECT_EQ(sampler.current[3], 5); // LAN untouched
}

TEST(NetSampling, IncompleteTriplesAndOddWordsAreSafe) {
    NetSampler sampler;
    // The last triple lacks its second counter: skipped, not read past the words there are.
    EXPECT_EQ(NetReadCounters(sampler, "eth0 10 20 eth1 30"), 1);
    EXPECT_EQ(sampler.current[3], 10);
    EXPECT_EQ(sampler.current[6], 0);
    EXPECT_EQ(NetReadCounters(sampler, "eth1"), 0);
    EXPECT_EQ(NetReadCounters(sampler, ""), 0);
    EXPECT_EQ(NetReadCounters(sampler, nullptr), 0);
    // Counters that are not numbers count as 0, also "nan" and "inf".
    EXPECT_EQ(NetReadCounters(sampler, "eth0 x nan eth1 inf 12.5"), 2);
    EXPECT_EQ(sampler.current[3], 0);
    EXPECT_EQ(sampler.current[4], 0);
    EXPECT_EQ(sampler.current[7], 12.5);
    // A text longer than the server's reply can be is refused whole.
    std::string longText(NET_COUNTERS_TEXT_MAX + 1, 'a');
    longText.replace(0, 9, "eth0 1 2 ");
    EXPECT_EQ(NetReadCounters(sampler, longText.c_str()), -1);
    EXPECT_STREQ(vxLastError().text, "Counters text too long");
    EXPECT_EQ(sampler.current[3], 0);
    // The longest text: 128 bytes of one-letter words.
    std::string words;
    while (words.size() + 2 <= NET_COUNTERS_TEXT_MAX)
        words += "a ";
    EXPECT_EQ(NetReadCounters(sampler, words.c_str()), 64 / 3);
}

TEST(NetSampling, ASpeedOfZeroShowsTheAmountAndNoLoad) {
    NetSampler sampler;
    NetCell cells[NET_CELLS];
    LineSpeeds s = speeds(0, -5, 128);
    tick(sampler, s, "ppp0 0 0 eth0 0 0", cells);
    EXPECT_EQ(tick(sampler, s, "ppp0 2048 0 eth0 1024 0", cells),
              "2.0 Kbyte/sec|0.0 Kbyte/sec|2.0 Kbyte/sec|1.0 Kbyte/sec|0.0 Kbyte/sec|"
              "1.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec|0.0 Kbyte/sec");
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(cells[i].load, 0) << i;
    char small[8];
    EXPECT_FALSE(NetCellText(2048, small, sizeof small));
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
    EXPECT_EQ(lineSpeeds.internetIn, 128);
    EXPECT_EQ(lineSpeeds.lanIn, 10000);
    EXPECT_EQ(lineSpeeds.intranetIn, 128);
    EXPECT_EQ(lineSpeeds.internetOut, 128);
    EXPECT_EQ(lineSpeeds.lanOut, 10000);
    EXPECT_EQ(lineSpeeds.intranetOut, 128);
    EXPECT_EQ(lineSpeeds.lanTotal, 0);
    EXPECT_EQ(loaded.hours[0], 8);
    EXPECT_EQ(loaded.hours[1], 0);
    EXPECT_EQ(loaded.hours[2], 16);
    EXPECT_EQ(loaded.hours[3], 30);
    for (const char* server : loaded.servers)
        EXPECT_EQ(server, nullptr);
    EXPECT_FALSE(exists("registry.reg"));

    // Saving creates "setup.bin" with the typed speeds and totals of 0 (no load computed them),
    // the registry store with the values in order, and sends nothing anywhere.
    EXPECT_STREQ(SetupSave(input("proxy.example", TYPED)), "");
    LineSpeeds expected{128, 10000, 64, 256, 0, 12.5, 0, 0, 0};
    EXPECT_EQ(get("setup.bin"), setupBin(expected));
    EXPECT_STREQ(serverData.host, "proxy.example");
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
    EXPECT_EQ(lineSpeeds.internetTotal, 384);
    EXPECT_EQ(lineSpeeds.lanTotal, 10000);
    EXPECT_EQ(lineSpeeds.intranetTotal, 76.5);
    const char* edited[6] = {"1", "2", "3", "4", "5", "6"};
    EXPECT_STREQ(SetupSave(input("proxy.example", edited)), "");
    EXPECT_EQ(get("setup.bin"), setupBin({1, 2, 3, 4, 5, 6, 384, 10000, 76.5}));
}

TEST_F(SetupSettingsTest, LoadFillsTheFieldsOfTheParametersThereAre) {
    params("ProxyServerName proxy1\nLanServerForPing lan1\n");
    SetupLoaded loaded = SetupLoad();
    EXPECT_STREQ(loaded.servers[0], "proxy1");
    EXPECT_EQ(loaded.servers[1], nullptr);
    EXPECT_STREQ(loaded.servers[2], "lan1");
    EXPECT_EQ(loaded.servers[3], nullptr);
}

TEST_F(SetupSettingsTest, SpeedTexts) {
    EXPECT_EQ(SetupSpeedValue("  128"), 128);
    EXPECT_EQ(SetupSpeedValue("12.5kbit"), 12.5);
    EXPECT_EQ(SetupSpeedValue("abc"), 0);
    EXPECT_EQ(SetupSpeedValue(""), 0);
    EXPECT_EQ(SetupSpeedValue(nullptr), 0);
    EXPECT_EQ(SetupSpeedValue("-3"), -3);
    EXPECT_EQ(SetupSpeedValue("inf"), 0);
    EXPECT_EQ(SetupSpeedValue("nan"), 0);
    EXPECT_EQ(SetupSpeedValue("1e999"), 0);
}

TEST_F(SetupSettingsTest, UnwritableStoreFailsAfterSetupBinAndTheHostName) {
    // The store's directory is a file: nothing can be written there.
    put("blocked", "");
    setenv("ORVELAN_REGISTRY", (dir / "blocked" / "registry.reg").c_str(), 1);
    std::strcpy(serverData.host, "old.example");
    EXPECT_STREQ(SetupSave(input("new.example", TYPED)), "Regisztri írási hiba '");
    EXPECT_EQ(get("setup.bin"), setupBin({128, 10000, 64, 256, 0, 12.5, 0, 0, 0}));
    EXPECT_STREQ(serverData.host, "new.example");
}

} // namespace
