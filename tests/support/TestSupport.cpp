#include "support/TestSupport.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>

#include "settings/SettingsFields.h"

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes) {
    if (path.has_parent_path()) fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string Utf16LeBytes(const std::string& ascii) {
    std::string out;
    for (const char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

void SetModifiedDate(const fs::path& path, int year, int month, int day) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    const std::time_t t = std::mktime(&tm);
    fs::last_write_time(path, std::chrono::file_clock::from_sys(std::chrono::system_clock::from_time_t(t)));
}

std::vector<std::pair<std::string, std::string>> SnapshotTree(const fs::path& root) {
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file())
            files.emplace_back(fs::relative(entry.path(), root).generic_string(), ReadBytes(entry));
    }
    std::sort(files.begin(), files.end());
    return files;
}

void TempDirTest::SetUp() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    std::replace(name.begin(), name.end(), '/', '_');
    // One folder per process: two test runs at once (two builds, or CI beside
    // a developer's run) must not share a test's files.
    m_dir = fs::temp_directory_path() / "quarvel-tests" / (name + "-" + std::to_string(ProcessId()));
    std::error_code ec;
    fs::remove_all(m_dir, ec);  // a kept folder of an earlier run, if it can go
    fs::create_directories(m_dir);
}

void TempDirTest::TearDown() {
    if (!HasFailure()) {
        std::error_code ec;
        fs::permissions(m_dir, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(m_dir, ec);
    } else {
        std::cerr << "test folder kept: " << m_dir << "\n";
    }
}

std::tm TestTime() {
    std::tm tm{};
    tm.tm_year = 2026 - 1900;
    tm.tm_mon = 11;
    tm.tm_mday = 7;
    tm.tm_hour = 14;
    tm.tm_min = 5;
    return tm;
}

TestInstall MakeInstall(const fs::path& root) {
    TestInstall install{root / "install", root / "quarvel.conf"};
    fs::create_directories(install.installFolder / "web");
    WriteBytes(install.storeFile, "NB Path=" + install.installFolder.generic_string() + "\n");
    return install;
}

CourseSettings DefaultOkSettings() {
    return ApplyOkRules(SettingsControls{});
}

#ifdef _WIN32
#include <process.h>
#include <windows.h>

int ProcessId() {
    // Wine gives every first process of a prefix the same id: the start time tells runs apart.
    static const int id = static_cast<int>((static_cast<unsigned>(::_getpid()) << 16) ^ (::GetTickCount() & 0xFFFF));
    return id;
}

void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    ::_putenv_s(name.c_str(), value ? value->c_str() : "");
}
#else
#include <unistd.h>

int ProcessId() {
    return static_cast<int>(::getpid());
}

void ScopedEnvironment::Set(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
}
#endif
