#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/FileSystem.h"
#include "platform/LockedAppend.h"
#include "platform/Text.h"
#include "support/TestSupport.h"

using namespace platform;

namespace {

// The journal a run leaves when it is stopped in the middle of an append: the
// file's identity, its length before and after, the FNV-1a checksum of each
// 64 KiB piece of the bytes it was appending, and those bytes when they fit
// in one piece.
std::string JournalFor(const fs::path& file, std::uint64_t oldLength, std::string_view appended) {
    struct stat st {};
    ::stat(file.c_str(), &st);
    const auto checksum = [](std::string_view bytes) {
        std::uint64_t hash = 14695981039346656037ULL;
        for (const char c : bytes) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ULL;
        }
        return hash;
    };
    constexpr std::size_t kPiece = 65536;
    std::string pieces;
    for (std::size_t at = 0; at < appended.size(); at += kPiece) {
        pieces += (at > 0 ? " " : "") + std::to_string(checksum(appended.substr(at, kPiece)));
    }
    return "quarvel-append 2\n" + std::to_string(st.st_dev) + " " + std::to_string(st.st_ino) + " " +
           std::to_string(oldLength) + " " + std::to_string(oldLength + appended.size()) + "\n" + pieces + "\n" +
           (appended.size() <= kPiece ? std::string(appended) : std::string());
}

int WaitFor(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

class LockedAppendTest : public TempDirTest {};

TEST_F(LockedAppendTest, OpenRefusesWhatCannotBeAppendedTo) {
    WriteBytes(dir() / "readonly.txt", "kept");
    fs::permissions(dir() / "readonly.txt", fs::perms::owner_read);
    fs::create_directories(dir() / "folder");
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);
    struct Row {
        const char* name;
        CreateIfMissing create;
        std::error_code expected;
    };
    const auto errc = [](std::errc e) { return std::make_error_code(e); };
    const Row rows[] = {
        {"readonly.txt", CreateIfMissing::yes, errc(std::errc::permission_denied)},
        {"missing.txt", CreateIfMissing::no, errc(std::errc::no_such_file_or_directory)},
        {"no-folder/log.txt", CreateIfMissing::yes, errc(std::errc::no_such_file_or_directory)},
        {"folder", CreateIfMissing::yes, errc(std::errc::is_a_directory)},
        {"pipe", CreateIfMissing::no, MakeError(FileError::notRegularFile)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        LockedAppend file;
        EXPECT_EQ(file.Open(path(row.name), row.create), row.expected);
        EXPECT_FALSE(file.IsOpen());
        EXPECT_TRUE(file.Append("x"));
    }
    EXPECT_FALSE(fs::exists(dir() / "missing.txt"));
    EXPECT_EQ(ReadBytes(dir() / "readonly.txt"), "kept");
}

TEST_F(LockedAppendTest, AppendsInPlaceWithThePrefixOnlyOnAnEmptyFile) {
    WriteBytes(dir() / "Catalogue.txt", "");
    struct stat before {};
    ::stat(path("Catalogue.txt").c_str(), &before);
    LockedAppend file;
    ASSERT_FALSE(file.Open(path("catalogue.TXT"), CreateIfMissing::no));
    ASSERT_FALSE(file.Append("one", "BOM"));
    ASSERT_FALSE(file.Append("two", "BOM"));
    file.Close();
    EXPECT_EQ(ReadBytes(dir() / "Catalogue.txt"), "BOMonetwo");
    struct stat after {};
    ::stat(path("Catalogue.txt").c_str(), &after);
    EXPECT_EQ(after.st_ino, before.st_ino);  // the same file, not a new copy
    // No journal is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir()), fs::directory_iterator()), 1);
}

TEST_F(LockedAppendTest, TwoProcessesAppendingAtOnceKeepEverySection) {
    const std::string log = path("nb_logfile.txt");
    constexpr int kSections = 200;
    pid_t children[2];
    for (int p = 0; p < 2; ++p) {
        children[p] = ::fork();
        ASSERT_GE(children[p], 0);
        if (children[p] == 0) {
            for (int s = 0; s < kSections; ++s) {
                const std::string section = "run " + std::to_string(p) + " section " + std::to_string(s) +
                                            std::string(static_cast<std::size_t>(s % 7) * 300, '.') + " end\n";
                if (AppendUtf16LeText(log, section)) ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (const pid_t child : children) EXPECT_EQ(WaitFor(child), 0);

    const std::string bytes = ReadBytes(log);
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i]);
    int whole = 0;
    for (int p = 0; p < 2; ++p) {
        for (int s = 0; s < kSections; ++s) {
            const std::string section = "run " + std::to_string(p) + " section " + std::to_string(s) +
                                        std::string(static_cast<std::size_t>(s % 7) * 300, '.') + " end\r\n";
            const std::size_t at = text.find(section);
            if (at != std::string::npos && text.find(section, at + 1) == std::string::npos) ++whole;
        }
    }
    EXPECT_EQ(whole, 2 * kSections);
    EXPECT_EQ(text.find("\xFF"), std::string::npos);  // one byte-order mark only
}

TEST_F(LockedAppendTest, AnAppendCutShortByAKillOrPowerCutIsCutBackBeforeTheNextOne) {
    const std::string old = "old lines\n";
    const std::string appended = "section of the stopped run\n";
    struct Row {
        const char* name;
        std::string tail;  // what the stopped run left after the old bytes
        std::string kept;  // what the file holds before the next append
    };
    const Row rows[] = {
        {"part of the bytes", appended.substr(0, 9), old},
        {"full length of garbage (power cut)", std::string(appended.size(), '\0'), old},
        {"zeros after part of the bytes (power cut)", appended.substr(0, 5) + std::string(7, '\0'), old},
        {"all bytes, journal not yet removed", appended, old + appended},
        {"nothing yet", "", old},
    };
    for (const bool inStateFolder : {false, true}) {
        for (const Row& row : rows) {
            SCOPED_TRACE(std::string(row.name) + (inStateFolder ? ", journal in the state folder" : ""));
            const fs::path file = dir() / "VOD info.txt";
            WriteBytes(file, old + row.tail);
            const std::string journal = JournalFor(file, old.size(), appended);
            fs::path journalPath = dir() / ".VOD info.txt.quarvel-append";
            if (inStateFolder) {
                struct stat st {};
                ::stat(file.c_str(), &st);
                journalPath = dir() / "state" / "quarvel" /
                              (std::to_string(st.st_dev) + "-" + std::to_string(st.st_ino) + ".quarvel-append");
                ::setenv("XDG_STATE_HOME", path("state").c_str(), 1);
            }
            WriteBytes(journalPath, journal);

            LockedAppend append;
            ASSERT_FALSE(append.Open(file.string(), CreateIfMissing::no));
            EXPECT_EQ(ReadBytes(file), row.kept);
            EXPECT_FALSE(fs::exists(journalPath));
            ASSERT_FALSE(append.Append("next\n"));
            EXPECT_EQ(ReadBytes(file), row.kept + "next\n");
            ::unsetenv("XDG_STATE_HOME");
        }
    }
}

TEST_F(LockedAppendTest, AJournalThatDoesNotFitTheFileCutsNothing) {
    const fs::path file = dir() / "log.txt";
    struct Row {
        const char* name;
        std::string content;
        std::string journal;
        bool named;  // the person is told that an interrupted append was left
    };
    const std::string appended = "\r\nsection of the stopped run\r\n";
    WriteBytes(file, "short");
    const std::string ownJournal = JournalFor(file, 5, appended);
    const Row rows[] = {
        // The file was emptied and written again by someone else since.
        {"file shorter than before the append", "new", JournalFor(file, 5, "appended"), false},
        {"another file's journal", "0123456789abcdef",
         "quarvel-append 2\n1 2 10 16\n" + std::to_string(14695981039346656037ULL) + "\nabcdef", false},
        {"journal torn while written", "0123456789abcdef", "quarvel-append 2\n4 5 1", false},
        {"an older run's journal", "0123456789abcdef", "quarvel-append 1\n4 5 1 3 7\n", false},
        // Another run that did not see the journal appended its section after
        // the stopped one's first bytes: neither is cut.
        {"another section follows, longer", "short" + appended.substr(0, 9) + "\r\nother run's section\r\n", ownJournal,
         true},
        {"another section follows, shorter", "short" + appended.substr(0, 3) + "\r\nother\r\n", ownJournal, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(file, row.content);
        WriteBytes(dir() / ".log.txt.quarvel-append", row.journal);
        LockedAppend append;
        ASSERT_FALSE(append.Open(file.string(), CreateIfMissing::no));
        EXPECT_EQ(ReadBytes(file), row.content);
        EXPECT_FALSE(fs::exists(dir() / ".log.txt.quarvel-append"));
        const std::vector<std::string> notes = append.TakeNotes();
        EXPECT_EQ(notes.size(), row.named ? 1u : 0u);
        if (row.named && !notes.empty()) {
            EXPECT_NE(notes[0].find(path("log.txt")), std::string::npos) << notes[0];
        }
    }
}

TEST_F(LockedAppendTest, ALogThatCouldNotTakeItsFirstBytesIsNotLeftEmpty) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // No byte may be written: stands for a full disk.
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit { 0, RLIM_INFINITY };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(1);
        ::_exit(AppendUtf16LeText(path("nb_logfile.txt"), "section") == std::errc::file_too_large ? 0 : 3);
    }
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_TRUE(fs::is_empty(dir()));
}

TEST_F(LockedAppendTest, AFailedAppendIsCutBackAtOnce) {
    const fs::path file = dir() / "HTML course descriptions.txt";
    WriteBytes(file, std::string(1000, 'o'));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The file may grow by 10 bytes only: the append's write stops part way.
        ::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit { 1010, RLIM_INFINITY };
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(1);
        LockedAppend append;
        if (append.Open(file.string(), CreateIfMissing::no)) ::_exit(2);
        ::_exit(append.Append(std::string(100, 'n')) == std::errc::file_too_large ? 0 : 3);
    }
    EXPECT_EQ(WaitFor(child), 0);
    EXPECT_EQ(ReadBytes(file), std::string(1000, 'o'));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir()), fs::directory_iterator()), 1);  // no journal left
}

TEST_F(LockedAppendTest, AnAppendGivenInPiecesIsOneAppendOfTheBytesMeasured) {
    std::string big(std::size_t{16} << 20 | 5, 'b');  // more than is written at a time
    for (std::size_t at = 0; at < big.size(); at += 4093) big[at] = static_cast<char>('a' + at % 26);
    const std::string small(3 * 65536 + 123, 's');
    const auto changedAt = [](std::string bytes, std::size_t at) {
        bytes[at] = '!';
        return bytes;
    };
    struct Row {
        const char* name;
        const std::string& measured;
        std::string given;
        bool finish;  // FinishAppend is called (else Close ends it)
        std::error_code expected;
    };
    const std::error_code invalid = std::make_error_code(std::errc::invalid_argument);
    const Row rows[] = {
        {"the bytes measured", small, small, true, {}},
        {"more than one write's worth", big, big, true, {}},
        {"a byte changed", small, changedAt(small, small.size() - 1), true, invalid},
        {"a byte changed in the first write", big, changedAt(big, 10), true, invalid},
        {"a byte more", small, small + "x", true, invalid},
        {"a byte less", small, small.substr(1), true, invalid},
        {"closed before it is finished", small, small, false, {}},
    };
    const fs::path file = dir() / "VOD info.txt";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        WriteBytes(file, "old\n");
        LockedAppend append;
        ASSERT_FALSE(append.Open(file.string(), CreateIfMissing::no));
        AppendMeasure measure;
        for (std::size_t at = 0; at < row.measured.size(); at += 100000) measure.Add(row.measured.substr(at, 100000));
        ASSERT_FALSE(append.BeginAppend(measure));
        // The journal covers the whole append before any of it goes in.
        for (const auto& entry : fs::directory_iterator(dir())) {
            if (entry.path() != file) {
                EXPECT_TRUE(ReadBytes(entry.path()) == JournalFor(file, 4, row.measured));
            }
        }
        std::error_code ec;
        for (std::size_t at = 0; !ec && at < row.given.size(); at += 65537) {
            ec = append.AppendMore(std::string_view(row.given).substr(at, 65537));
        }
        if (!ec && row.finish) ec = append.FinishAppend();
        append.Close();
        EXPECT_EQ(ec, row.expected);
        const bool whole = !row.expected && row.finish;
        EXPECT_TRUE(ReadBytes(file) == (whole ? "old\n" + row.given : "old\n"));
        EXPECT_EQ(std::distance(fs::directory_iterator(dir()), fs::directory_iterator()), 1);  // no journal left
    }
}

TEST_F(LockedAppendTest, AJournalThatCannotGoBesideTheFileGoesToTheStateFolder) {
    // Stands for a writable log in an install folder that is not writable.
    const fs::path file = dir() / "install" / "nb_logfile.txt";
    WriteBytes(file, "old");
    fs::create_directories(dir() / "install" / ".nb_logfile.txt.quarvel-append");  // blocks the journal's name
    ::setenv("XDG_STATE_HOME", path("state").c_str(), 1);
    LockedAppend append;
    ASSERT_FALSE(append.Open(file.string(), CreateIfMissing::no));
    ASSERT_FALSE(append.Append(" new"));
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(ReadBytes(file), "old new");
    ASSERT_TRUE(fs::is_directory(dir() / "state" / "quarvel"));
    EXPECT_TRUE(fs::is_empty(dir() / "state" / "quarvel"));
    EXPECT_TRUE(IsAppendJournalName(".nb_logfile.txt.quarvel-append"));
    EXPECT_FALSE(IsAppendJournalName("nb_logfile.txt"));
}

TEST_F(LockedAppendTest, ALogCreatedAsRootBelongsToTheOwnerOfItsFolder) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to other users";
    fs::create_directories(dir() / "install");
    ASSERT_EQ(::chown(path("install").c_str(), 1234, 1235), 0);
    ASSERT_FALSE(AppendUtf16LeText(path("install/nb_logfile.txt"), "a"));
    struct stat st {};
    ASSERT_EQ(::stat(path("install/nb_logfile.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1234u);
    EXPECT_EQ(st.st_gid, 1235u);
    EXPECT_EQ(ReadBytes(dir() / "install" / "nb_logfile.txt"), std::string("\xFF\xFE"
                                                                           "a\0",
                                                                           4));
}
