#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/QuarvelRun.h"
#include "app/UserInterface.h"
#include "platform/Clock.h"

namespace fs = std::filesystem;

// This process's id, for names no other test run uses.
int ProcessId();

// Whether two names that differ only in letter case are two files (Linux),
// or one (Windows): checks of the former hold on Linux only.
// Likewise POSIX permission bits, links made by anyone, "/" as the root.
constexpr bool kPosixFileSystem =
#ifdef _WIN32
    false;
#else
    true;
#endif
constexpr bool kCaseSensitiveFileSystem = kPosixFileSystem;

// Test-side file helpers (the product reaches files only through platform/).
std::string ReadBytes(const fs::path& path);
void WriteBytes(const fs::path& path, const std::string& bytes);  // creates parent folders
// ASCII text as UTF-16LE bytes, without byte-order mark.
std::string Utf16LeBytes(const std::string& ascii);
void SetModifiedDate(const fs::path& path, int year, int month, int day);
// Every regular file below `root`, by relative path, with its bytes.
std::vector<std::pair<std::string, std::string>> SnapshotTree(const fs::path& root);

// A fixture that gives each test its own folder, kept when the test fails.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    const fs::path& dir() const { return m_dir; }
    // With "/" between names on every system, as the program spells paths.
    std::string path(const std::string& relative) const { return (m_dir / relative).generic_string(); }

private:
    fs::path m_dir;
};

struct ShownMessage {
    std::string text;
    std::string caption;
    MessageStyle style;
};

// Answers a run from a script and records what it was shown.
class FakeUser : public UserInterface {
public:
    std::optional<CourseSettings> settings = CourseSettings{};
    std::optional<std::string> folder;
    std::vector<ShownMessage> messages;
    std::vector<std::pair<std::string, std::string>> folderRequests;  // caption, prompt
    std::function<void()> onMessage;                                  // runs when a box is shown

    std::optional<CourseSettings> ChooseSettings() override { return settings; }
    std::optional<std::string> ChooseFolder(const std::string& caption, const std::string& prompt) override {
        folderRequests.emplace_back(caption, prompt);
        return folder;
    }
    void ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) override {
        messages.push_back({text, caption, style});
        if (onMessage) onMessage();
    }
    bool AcceptPerUserInstall(const PerUserInstallOffer& offer) override {
        offers.push_back(offer);
        return acceptPerUserInstall;
    }
    bool acceptPerUserInstall = false;
    std::vector<PerUserInstallOffer> offers;
};

// A fixed local time: 12/07/2026 14:05.
std::tm TestTime();

// An installation in `root`/install with its store file `root`/quarvel.conf.
struct TestInstall {
    fs::path installFolder;
    fs::path storeFile;
    InstallStore store() const { return InstallStore(storeFile.string()); }
};
TestInstall MakeInstall(const fs::path& root);

// Settings as the dialog gives them after OK with nothing changed.
CourseSettings DefaultOkSettings();

// Sets environment variables for one scope and puts the old values back.
class ScopedEnvironment {
public:
    explicit ScopedEnvironment(const std::map<std::string, std::optional<std::string>>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            m_saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
            Set(name, value);
        }
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : m_saved) Set(name, value);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    static void Set(const std::string& name, const std::optional<std::string>& value);
    std::map<std::string, std::optional<std::string>> m_saved;
};
