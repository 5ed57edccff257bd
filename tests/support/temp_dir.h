// A temporary directory of its own for each test: created fresh, named after the running test,
// removed with everything in it when the test is over.
#pragma once

#include <filesystem>
#include <string>

class TempDir {
  public:
    // Makes "<system temporary directory>/<prefix>-<test name>-XXXXXX"; ok() tells whether it
    // could be made (a test asserts it).
    explicit TempDir(const std::string& prefix = "orvelan");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !m_path.empty(); }
    const std::filesystem::path& path() const { return m_path; }
    std::string str() const { return m_path.string(); }

    // The path of a name inside the directory (a relative name, or one with subdirectories).
    std::string file(const std::string& name) const { return (m_path / name).string(); }
    // Writes a file inside the directory (its parents created) and returns its path.
    std::string write(const std::string& name, const std::string& content) const;

  private:
    std::filesystem::path m_path;
};

// Every byte of a file at any path; empty when it cannot be read.
std::string readFileBytes(const std::string& path);
