// The order of a run's system calls: every new content is waited for on the
// disk before a name puts it in place, and every name put in place or deleted
// is on the disk before anything more is written (ext4 without ordered data
// hands the space of a replaced or deleted file to the next write at once). A
// power cut on a loop image shows a missing wait only when the file system
// commits in an unlucky order; the trace shows it on every run.
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "CourseLibrary.h"
#include "reliability/World.h"

namespace {

struct Call {
    std::string name;
    std::vector<std::string> args;  // as strace prints them, strings unquoted
    long result = -1;
};

// One line of `strace -qq` output, or nothing for lines of other shapes.
std::optional<Call> ParseCall(const std::string& line) {
    // strace pads short calls: "syncfs(3)     = 0".
    const std::size_t open = line.find('(');
    const std::size_t assign = line.rfind(" = ");
    if (open == std::string::npos || assign == std::string::npos || assign < open) return std::nullopt;
    const std::size_t equals = line.find_last_not_of(' ', assign);
    if (line[equals] != ')') return std::nullopt;
    Call call;
    call.name = line.substr(0, open);
    call.result = std::strtol(line.c_str() + assign + 3, nullptr, 10);
    std::string arg;
    bool quoted = false;
    int depth = 0;
    for (std::size_t i = open + 1; i < equals; ++i) {
        const char c = line[i];
        if (quoted) {
            if (c == '\\' && i + 1 < equals) {
                arg += line[++i];
            } else if (c == '"') {
                quoted = false;
            } else {
                arg += c;
            }
        } else if (c == '"') {
            quoted = true;
        } else if (c == '{' || c == '[') {
            ++depth;
            arg += c;
        } else if (c == '}' || c == ']') {
            --depth;
            arg += c;
        } else if (c == ',' && depth == 0) {
            call.args.push_back(arg);
            arg.clear();
            if (i + 1 < equals && line[i + 1] == ' ') ++i;
        } else {
            arg += c;
        }
    }
    call.args.push_back(arg);
    return call;
}

bool EndsWith(const std::string& text, std::string_view end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int Fd(const Call& call, std::size_t index) {
    return index < call.args.size() ? std::atoi(call.args[index].c_str()) : -1;
}

// Follows the content of every temporary file from its creation to the name
// that puts it in place, and reports each name given to content written
// since the last wait for the disk.
class WriteOrderChecker {
public:
    void Feed(const Call& call) {
        const std::string& n = call.name;
        if ((n == "openat" || n == "open") && call.result >= 0) {
            const std::string& path = call.args.at(n == "openat" ? 1 : 0);
            const std::string& flags = call.args.at(n == "openat" ? 2 : 1);
            if (flags.find("O_WRONLY") != std::string::npos || flags.find("O_RDWR") != std::string::npos) {
                m_writable.insert(static_cast<int>(call.result));
            }
            if (flags.find("O_TMPFILE") != std::string::npos ||
                (flags.find("O_CREAT") != std::string::npos && path.find("/.quarvel-") != std::string::npos)) {
                const int object = m_nextObject++;
                m_fdObject[static_cast<int>(call.result)] = object;
                m_dirty[object] = false;
                if (flags.find("O_TMPFILE") == std::string::npos) m_nameObject[path] = object;
            }
        } else if (n == "close") {
            m_fdObject.erase(Fd(call, 0));
            m_writable.erase(Fd(call, 0));
        } else if (n == "write" || n == "pwrite64" || n == "ftruncate" || n == "writev") {
            Dirty(Fd(call, 0));
        } else if (n == "copy_file_range") {
            Dirty(Fd(call, 2));
        } else if (n == "sendfile") {
            Dirty(Fd(call, 0));
        } else if (n == "syncfs" && call.result == 0) {
            // One file system in this test: its sync covers every file and name.
            for (auto& [object, dirty] : m_dirty) dirty = false;
            m_freed.clear();
        } else if ((n == "unlink" || n == "unlinkat") && call.result == 0) {
            // A temporary file's space never held anything a name showed; an
            // append's record names its file, lengths and checksum, so other
            // bytes in its place are told apart.
            const std::string& path = call.args.at(n == "unlink" ? 0 : 1);
            if (path.find("/.quarvel-") == std::string::npos && !EndsWith(path, ".quarvel-append")) m_freed = path;
        } else if ((n == "fsync" || n == "fdatasync") && call.result == 0) {
            if (const auto it = m_fdObject.find(Fd(call, 0)); it != m_fdObject.end()) m_dirty[it->second] = false;
        } else if (n == "linkat" && call.result == 0) {
            const std::string& from = call.args.at(1);
            const int fd = from.rfind("/proc/self/fd/", 0) == 0 ? std::atoi(from.c_str() + 14) : Fd(call, 0);
            const auto it = m_fdObject.find(fd);
            if (it == m_fdObject.end()) return;
            const std::string& to = call.args.at(3);
            if (to.find("/.quarvel-") != std::string::npos) {
                m_nameObject[to] = it->second;
                return;
            }
            // A new file linked in under its own name: put in place, nothing freed.
            ++m_placed;
            if (m_dirty[it->second]) m_early.push_back(to);
        } else if ((n == "rename" || n == "renameat" || n == "renameat2") && call.result == 0) {
            const bool at = n != "rename";
            const std::string& from = call.args.at(at ? 1 : 0);
            const std::string& to = call.args.at(at ? 3 : 1);
            const auto it = m_nameObject.find(from);
            if (it == m_nameObject.end()) return;
            ++m_placed;
            if (m_dirty[it->second]) m_early.push_back(to);
            m_nameObject.erase(it);
            m_freed = to;
        }
    }

    int placed() const { return m_placed; }
    const std::vector<std::string>& early() const { return m_early; }
    // Names put in place or deleted, each followed by a write before any wait.
    const std::vector<std::string>& writtenOver() const { return m_writtenOver; }

private:
    void Dirty(int fd) {
        if (const auto it = m_fdObject.find(fd); it != m_fdObject.end()) m_dirty[it->second] = true;
        if (!m_freed.empty() && m_writable.count(fd) != 0) {
            m_writtenOver.push_back(m_freed);
            m_freed.clear();
        }
    }

    int m_nextObject = 0;
    std::map<int, int> m_fdObject;
    std::map<int, bool> m_dirty;
    std::map<std::string, int> m_nameObject;
    std::set<int> m_writable;  // descriptors open for writing
    std::string m_freed;       // the last name changed since the last wait
    int m_placed = 0;
    std::vector<std::string> m_early;
    std::vector<std::string> m_writtenOver;
};

class WriteOrderTest : public TempDirTest {};

TEST_F(WriteOrderTest, ParsesTheCallsItFollows) {
    const auto call = ParseCall(
        R"(linkat(AT_FDCWD, "/proc/self/fd/3", AT_FDCWD, "/x/a, \"b\"/.quarvel-1.tmp", AT_SYMLINK_FOLLOW) = 0)");
    ASSERT_TRUE(call.has_value());
    EXPECT_EQ(call->name, "linkat");
    EXPECT_EQ(call->args, (std::vector<std::string>{"AT_FDCWD", "/proc/self/fd/3", "AT_FDCWD",
                                                    "/x/a, \"b\"/.quarvel-1.tmp", "AT_SYMLINK_FOLLOW"}));
    EXPECT_EQ(call->result, 0);
    EXPECT_FALSE(ParseCall("+++ exited with 0 +++").has_value());

    // A name before the wait, and one after it.
    WriteOrderChecker checker;
    for (const char* line :
         {R"(openat(AT_FDCWD, "/x", O_RDWR|O_CLOEXEC|O_TMPFILE, 0666) = 3)", R"(write(3, "abc", 3) = 3)",
          R"(linkat(AT_FDCWD, "/proc/self/fd/3", AT_FDCWD, "/x/.quarvel-a.tmp", AT_SYMLINK_FOLLOW) = 0)",
          R"(rename("/x/.quarvel-a.tmp", "/x/early.xml") = 0)",
          // A new file linked in under its own name, before the wait and after it.
          R"(openat(AT_FDCWD, "/x", O_RDWR|O_CLOEXEC|O_TMPFILE, 0666) = 6)", R"(write(6, "new", 3) = 3)",
          R"(linkat(AT_FDCWD, "/proc/self/fd/6", AT_FDCWD, "/x/new.png", AT_SYMLINK_FOLLOW) = 0)",
          R"(openat(AT_FDCWD, "/x/.quarvel-b.tmp", O_RDWR|O_CREAT|O_EXCL, 0600) = 4)",
          R"(copy_file_range(5, NULL, 4, NULL, 9, 0) = 9)", "syncfs(4)                               = 0",
          R"(rename("/x/.quarvel-b.tmp", "/x/late.xml") = 0)",
          R"(linkat(6, "", AT_FDCWD, "/x/late.png", AT_EMPTY_PATH) = 0)", "syncfs(4) = 0",
          // A temporary name's deletion frees nothing a name showed; a bundle file's does.
          R"(unlink("/x/.quarvel-c.tmp") = 0)", R"(write(4, "d", 1) = 1)", R"(unlink("/x/gone.php") = 0)",
          R"(write(1, "progress", 8) = 8)", R"(write(4, "e", 1) = 1)"}) {
        checker.Feed(*ParseCall(line));
    }
    EXPECT_EQ(checker.placed(), 4);
    EXPECT_EQ(checker.early(), (std::vector<std::string>{"/x/early.xml", "/x/new.png"}));
    EXPECT_EQ(checker.writtenOver(), (std::vector<std::string>{"/x/early.xml", "/x/gone.php"}));
}

TEST_F(WriteOrderTest, EveryNameFollowsTheWaitForItsContent) {
    if (std::system("strace -V >/dev/null 2>&1") != 0) GTEST_SKIP() << "strace is not installed";
    const fs::path config = dir() / "quarvel.conf";
    WriteBytes(config, "NB Path=" + (dir() / "install").string() + "\n");
    courselib::GenerateInstallation(dir() / "install", {200, 20, 200});
    courselib::GenerateCourses(dir() / "courses", 6);
    courselib::GenerateVideos(dir() / "videos", 6);
    // Small commits, so that the run commits many times.
    ::setenv("QUARVEL_COMMIT_BYTES", "65536", 1);

    const struct {
        const char* job;
        std::vector<std::string> args;
        int leastPlaced;  // files the job puts in place at least
    } rows[] = {
        {"main", {"exitStatusMode=PassedIncomplete", "deleteBmp=true", (dir() / "courses").string()}, 50},
        {"vod", {"createVodPackages=true", (dir() / "videos").string()}, 6},
        {"spreadsheet", {"updateFromSpreadsheet=true"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.job);
        const fs::path trace = dir() / (std::string(row.job) + ".trace");
        const BatchRun run =
            RunBatch(config, row.args, -1,
                     {"strace", "-qq", "-o", trace.string(), "-e",
                      "trace=open,openat,close,write,writev,pwrite64,ftruncate,copy_file_range,"
                      "sendfile,syncfs,fsync,fdatasync,linkat,rename,renameat,renameat2,unlink,unlinkat"});
        ASSERT_EQ(run.exitCode, 0) << run.output;
        WriteOrderChecker checker;
        std::ifstream in(trace);
        for (std::string line; std::getline(in, line);) {
            if (const auto call = ParseCall(line)) checker.Feed(*call);
        }
        EXPECT_GE(checker.placed(), row.leastPlaced) << "the trace lost the files the job writes";
        EXPECT_TRUE(checker.early().empty()) << checker.early().size() << " name(s) put in place before their content "
                                             << "was on the disk, the first: " << checker.early().front();
        EXPECT_TRUE(checker.writtenOver().empty())
            << checker.writtenOver().size() << " name(s) put in place or deleted and then written after before the "
            << "names were on the disk, the first: " << checker.writtenOver().front();
    }
}

}  // namespace
