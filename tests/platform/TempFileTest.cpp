#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"
#include "support/TestSupport.h"

using namespace platform;

class TempFileTest : public TempDirTest {};

TEST_F(TempFileTest, OnlyTemporaryFilesNoRunHoldsAreRemoved) {
    struct Row {
        const char* name;
        bool locked;
        bool removed;
    };
    const Row rows[] = {
        {".quarvel-Dead12.tmp", false, true},    // left by a killed run
        {".quarvel-Live12.tmp", true, false},    // another run is writing it
        {".quarvel-notours.tmp", false, false},  // not a name this program makes
        {"quarvel-Ab12Cd.tmp", false, false},
    };
    enum class Way { folder, oneFile, plainDelete };
    for (const Way way : {Way::folder, Way::oneFile, Way::plainDelete}) {
        SCOPED_TRACE(way == Way::folder ? "whole folder" : way == Way::oneFile ? "one file" : "plain delete");
        std::vector<UniqueFd> locks;
        for (const Row& row : rows) {
            WriteBytes(dir() / row.name, "bytes");
            if (!row.locked) continue;
            locks.emplace_back(::open(path(row.name).c_str(), O_RDONLY | O_CLOEXEC));
            ASSERT_EQ(::flock(locks.back().Get(), LOCK_EX), 0);
        }
        if (way == Way::folder) RemoveStaleTempFiles(dir().string());
        for (const Row& row : rows) {
            if (!IsSafeReplaceTempName(row.name) || way == Way::folder) continue;
            EXPECT_FALSE(way == Way::oneFile ? RemoveStaleTempFile(path(row.name)) : RemoveFile(path(row.name)));
        }
        for (const Row& row : rows) {
            SCOPED_TRACE(row.name);
            EXPECT_EQ(fs::exists(dir() / row.name), !row.removed);
        }
    }
}

TEST_F(TempFileTest, AFileInFlightStaysWhileItsRunGoesOn) {
    // A child holds the lock, as a run writing the file would; once it ends the file is litter.
    WriteBytes(dir() / ".quarvel-Child1.tmp", "in flight");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(path(".quarvel-Child1.tmp").c_str(), O_RDONLY);
        if (fd < 0 || ::flock(fd, LOCK_EX) != 0) ::_exit(1);
        const char c = 'x';
        std::ignore = ::write(ready[1], &c, 1);
        ::pause();
        ::_exit(0);
    }
    char c = 0;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    RemoveStaleTempFiles(dir().string());
    EXPECT_TRUE(fs::exists(dir() / ".quarvel-Child1.tmp"));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    RemoveStaleTempFiles(dir().string());
    EXPECT_FALSE(fs::exists(dir() / ".quarvel-Child1.tmp"));
    ::close(ready[0]);
    ::close(ready[1]);
}
