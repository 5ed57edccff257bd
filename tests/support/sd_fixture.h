// Test fixture of the data layer: a fresh working directory per test, the registry store and the
// parameter table emptied, the process-wide tables reset.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <unistd.h>

#include "lib/vx_err.h"
#include "params/def.h"
#include "serverdata/server_data.h"
#include "tests/support/temp_dir.h"

class DataDirTest : public ::testing::Test {
  public:
    static UserRecord user(const char* name) {
        UserRecord u{};
        std::snprintf(u.name, sizeof u.name, "%s", name);
        u.group = -1;
        return u;
    }

  protected:
    void SetUp() override {
        ASSERT_TRUE(tmp.ok());
        home = std::filesystem::current_path();
        dir = tmp.path();
        std::filesystem::current_path(dir);
        setenv("ORVELAN_REGISTRY", (dir / "registry.reg").c_str(), 1);
        vxResetParams();
        vxClearError();
        serverData.Reset();
    }
    void TearDown() override {
        std::filesystem::current_path(home);
        unsetenv("ORVELAN_REGISTRY");
    }
    // Writes a file (relative names land in the working directory) and returns its path.
    static std::string put(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    static std::string get(const std::string& path) { return readFileBytes(path); }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }
    // Loads parameters from a text (a fresh parameter file per call).
    void params(const std::string& text) {
        std::string file = (dir / ("params" + std::to_string(++paramFiles))).string();
        put(file, text);
        ASSERT_EQ(vxLoadParamFile(file.c_str()), 0);
    }
    TempDir tmp{"vxdata"}; // removed after the test
    std::filesystem::path home, dir;
    int paramFiles = 0;
};
