#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <csignal>

#include "platform/FileSystem.h"
#include "platform/FileTransaction.h"
#include "platform/FolderTree.h"
#include "support/TestSupport.h"

using namespace platform;

namespace {

// Every entry of `folder` (files and folders, hidden ones too) with the bytes of the files.
std::vector<std::pair<std::string, std::string>> Everything(const fs::path& folder) {
    std::vector<std::pair<std::string, std::string>> out;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        out.emplace_back(fs::relative(e.path(), folder).string(), e.is_regular_file() ? ReadBytes(e.path()) : "/");
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::optional<std::string> Attribute(const fs::path& file, const char* name) {
    std::string value(256, '\0');
    const ssize_t n = ::getxattr(file.c_str(), name, value.data(), value.size());
    if (n < 0) return std::nullopt;
    value.resize(static_cast<std::size_t>(n));
    return value;
}

// A POSIX access ACL in the kernel's xattr form: owner rw, user 1236 r, group r, mask r, others nothing.
std::string AclGivingUserRead(unsigned uid) {
    std::string acl;
    const auto u16 = [&](unsigned v) { acl.append({static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}); };
    const auto u32 = [&](unsigned v) { u16(v & 0xFFFF), u16(v >> 16); };
    const auto entry = [&](unsigned tag, unsigned perm, unsigned id) { u16(tag), u16(perm), u32(id); };
    u32(2);  // version
    entry(0x01, 6, 0xFFFFFFFF);
    entry(0x02, 4, uid);
    entry(0x04, 4, 0xFFFFFFFF);
    entry(0x10, 4, 0xFFFFFFFF);
    entry(0x20, 0, 0xFFFFFFFF);
    return acl;
}

struct stat StatOf(const fs::path& p) {
    struct stat st {};
    ::stat(p.c_str(), &st);
    return st;
}

}  // namespace

class FileTransactionTest : public TempDirTest {};

TEST_F(FileTransactionTest, NothingShowsBeforeCommitAndCommitPutsEveryFileInPlace) {
    WriteBytes(dir() / "course" / "xml" / "Interface.xml", "old settings");
    fs::create_directories(dir() / "course" / "media");
    const auto before = Everything(dir());
    {
        FileTransaction transaction;
        ASSERT_FALSE(transaction.Stage(path("course/xml/interface.xml"), "new settings"));
        ASSERT_FALSE(transaction.Stage(path("course/imsmanifest.xml"), "manifest"));
        ASSERT_FALSE(transaction.StageCopy(path("course/media/copy.xml"), path("course/xml/Interface.xml")));
        EXPECT_EQ(transaction.StagedFiles(), 3u);
        EXPECT_EQ(transaction.StagedBytes(), 12u + 8u + 12u);
        EXPECT_TRUE(transaction.IsStaged(path("COURSE/XML/INTERFACE.XML")));
        EXPECT_TRUE(transaction.IsStaged(path("course/IMSMANIFEST.xml")));
        EXPECT_FALSE(transaction.IsStaged(path("course/other.xml")));
        EXPECT_EQ(Everything(dir()), before);

        EXPECT_TRUE(transaction.Commit().empty());
        EXPECT_EQ(transaction.StagedFiles(), 0u);
        EXPECT_FALSE(transaction.IsStaged(path("course/imsmanifest.xml")));
        EXPECT_FALSE(transaction.SyncNames());
    }
    // The copy took the old bytes: staged content is read from the file as it was.
    EXPECT_EQ(Everything(dir()), (std::vector<std::pair<std::string, std::string>>{
                                     {"course", "/"},
                                     {"course/imsmanifest.xml", "manifest"},
                                     {"course/media", "/"},
                                     {"course/media/copy.xml", "old settings"},
                                     {"course/xml", "/"},
                                     {"course/xml/Interface.xml", "new settings"},
                                 }));
    // The listing kept for case lookups knows the new file.
    EXPECT_EQ(ResolveCase(path("course/IMSMANIFEST.XML")), path("course/imsmanifest.xml"));
}

TEST_F(FileTransactionTest, WhatIsNotCommittedLeavesNoTrace) {
    WriteBytes(dir() / "page.htm", "old");
    const auto before = Everything(dir());
    {
        FileTransaction transaction;
        ASSERT_FALSE(transaction.Stage(path("page.htm"), "new"));
        ASSERT_FALSE(transaction.Stage(path("created.htm"), "new"));
    }
    EXPECT_EQ(Everything(dir()), before);

    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("page.htm"), "newer"));
    transaction.Discard();
    EXPECT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(Everything(dir()), before);
}

TEST_F(FileTransactionTest, StagingATargetAgainReplacesWhatWasStagedInAnyLetterCase) {
    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("New.css"), "first"));
    ASSERT_FALSE(transaction.Stage(path("NEW.CSS"), "second, longer"));
    EXPECT_EQ(transaction.StagedFiles(), 1u);
    EXPECT_EQ(transaction.StagedBytes(), 14u);
    EXPECT_EQ(transaction.ReadStaged(path("new.css")), "second, longer");

    // A file staged and then dropped again is not written.
    WriteBytes(dir() / "kept.js", "old");
    ASSERT_FALSE(transaction.Stage(path("kept.js"), "new"));
    transaction.Unstage(path("KEPT.js"));
    EXPECT_FALSE(transaction.IsStaged(path("kept.js")));
    EXPECT_EQ(transaction.ReadStaged(path("kept.js")), std::nullopt);
    EXPECT_EQ(transaction.StagedFiles(), 1u);
    EXPECT_EQ(transaction.StagedBytes(), 14u);

    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(Everything(dir()),
              (std::vector<std::pair<std::string, std::string>>{{"New.css", "second, longer"}, {"kept.js", "old"}}));
}

TEST_F(FileTransactionTest, ANewFileWhoseNameIsTakenBeforeTheCommitReplacesWhatTookIt) {
    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("new.css"), "staged"));
    ASSERT_FALSE(transaction.Stage(path("other.css"), "other"));
    WriteBytes(dir() / "new.css", "written in between");
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(Everything(dir()),
              (std::vector<std::pair<std::string, std::string>>{{"new.css", "staged"}, {"other.css", "other"}}));
}

TEST_F(FileTransactionTest, ADeletionWaitsForTheCommitAndAWriteAfterItCancelsIt) {
    for (const char* name : {"gone.php", "back.js", "locked.php", "kept.bmp"}) WriteBytes(dir() / name, "old");
    fs::permissions(dir() / "locked.php", fs::perms::owner_read);
    const auto before = Everything(dir());
    {
        FileTransaction discarded;
        discarded.StageRemoval(path("kept.bmp"));
        discarded.Discard();
        EXPECT_TRUE(discarded.Commit().empty());
    }
    FileTransaction transaction;
    // What is staged first and then dropped holds nothing the commit could wait on.
    ASSERT_FALSE(transaction.Stage(path("gone.php"), "staged, then deleted"));
    transaction.StageRemoval(path("gone.php"));
    transaction.StageRemoval(path("back.js"));
    ASSERT_FALSE(transaction.Stage(path("back.js"), "new"));
    transaction.StageRemoval(path("locked.php"));
    transaction.StageRemoval(path("never there.php"));
    EXPECT_TRUE(transaction.IsRemovalStaged(path("gone.php")));
    EXPECT_FALSE(transaction.IsStaged(path("gone.php")));
    EXPECT_FALSE(transaction.IsRemovalStaged(path("back.js")));
    EXPECT_EQ(Everything(dir()), before);

    const std::vector<CommitFailure> failures = transaction.Commit();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, path("locked.php"));
    EXPECT_EQ(failures[0].error, std::errc::permission_denied);
    EXPECT_TRUE(failures[0].removal);
    EXPECT_FALSE(transaction.IsRemovalStaged(path("gone.php")));
    EXPECT_EQ(Everything(dir()), (std::vector<std::pair<std::string, std::string>>{
                                     {"back.js", "new"}, {"kept.bmp", "old"}, {"locked.php", "old"}}));
}

TEST_F(FileTransactionTest, UnwritableTargetsAndSourcesAreRefused) {
    WriteBytes(dir() / "readonly.xml", "kept");
    fs::permissions(dir() / "readonly.xml", fs::perms::owner_read | fs::perms::group_read);
    fs::create_directories(dir() / "folder");
    WriteBytes(dir() / "source.js", "js");
    ASSERT_EQ(::mkfifo(path("pipe").c_str(), 0600), 0);

    struct Row {
        const char* name;
        std::string target;
        std::optional<std::string> copyFrom;
        std::error_code expected;
    };
    const auto errc = [](std::errc e) { return std::make_error_code(e); };
    const Row rows[] = {
        {"read-only target", path("readonly.xml"), std::nullopt, errc(std::errc::permission_denied)},
        {"read-only copy target", path("READONLY.XML"), path("source.js"), errc(std::errc::permission_denied)},
        {"folder as target", path("folder"), std::nullopt, errc(std::errc::is_a_directory)},
        {"missing folder", path("missing/file.xml"), std::nullopt, errc(std::errc::no_such_file_or_directory)},
        {"missing source", path("copy.js"), path("missing.js"), errc(std::errc::no_such_file_or_directory)},
        {"folder as source", path("copy.js"), path("folder"), errc(std::errc::is_a_directory)},
        {"pipe as source (must not block)", path("copy.js"), path("pipe"), MakeError(FileError::notRegularFile)},
    };
    const auto before = Everything(dir());
    FileTransaction transaction;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::error_code ec =
            row.copyFrom ? transaction.StageCopy(row.target, *row.copyFrom) : transaction.Stage(row.target, "x");
        EXPECT_EQ(ec, row.expected);
    }
    EXPECT_EQ(transaction.StagedFiles(), 0u);
    EXPECT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(Everything(dir()), before);
}

TEST_F(FileTransactionTest, AWriteThroughALinkReplacesTheFileItNames) {
    WriteBytes(dir() / "real" / "style.css", "old");
    fs::create_symlink(dir() / "real" / "style.css", dir() / "link.css");
    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("link.css"), "new"));
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_TRUE(fs::is_symlink(dir() / "link.css"));
    EXPECT_EQ(ReadBytes(dir() / "real" / "style.css"), "new");
}

TEST_F(FileTransactionTest, ACopyTakesTheSourcesBitsAndDate) {
    WriteBytes(dir() / "template" / "ui.png", "png");
    fs::permissions(dir() / "template" / "ui.png", fs::perms::owner_read | fs::perms::owner_write);
    SetModifiedDate(dir() / "template" / "ui.png", 2023, 5, 1);
    WriteBytes(dir() / "course" / "ui.png", "stale");
    fs::permissions(dir() / "course" / "ui.png", fs::perms::all);
    FileTransaction transaction;
    ASSERT_FALSE(transaction.StageCopy(path("course/ui.png"), path("template/ui.png")));
    EXPECT_EQ(transaction.ReadStaged(path("course/ui.png")), "png");
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(ReadBytes(dir() / "course" / "ui.png"), "png");
    EXPECT_EQ(fs::status(dir() / "course" / "ui.png").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(StatOf(dir() / "course" / "ui.png").st_mtim.tv_sec, StatOf(dir() / "template" / "ui.png").st_mtim.tv_sec);
}

TEST_F(FileTransactionTest, ACopyThatFailsAfterStagingKeepsTheOldFileAndIsReportedAsACopy) {
    WriteBytes(dir() / "template" / "big.png", std::string(20000, 'p'));
    WriteBytes(dir() / "course" / "big.png", "old");
    // Files may not grow past 4 KB for a moment: the copy fails with EFBIG.
    struct rlimit limit {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const auto previousSignal = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = limit;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    FileTransaction transaction;
    const std::error_code staged = transaction.StageCopy(path("course/big.png"), path("template/big.png"));
    std::vector<CommitFailure> failures = transaction.Commit();
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, previousSignal);

    ASSERT_FALSE(staged);  // the copy itself happens on the way to the commit
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].path, path("course/big.png"));
    EXPECT_EQ(failures[0].error, std::make_error_code(std::errc::file_too_large));
    EXPECT_TRUE(failures[0].copy);
    EXPECT_EQ(Everything(dir() / "course"), (std::vector<std::pair<std::string, std::string>>{{"big.png", "old"}}));
}

TEST_F(FileTransactionTest, ListingsFollowACommitOfManyFilesIntoSeveralFolders) {
    fs::create_directories(dir() / "a");
    fs::create_directories(dir() / "b");
    EXPECT_TRUE(FindEntries(path("a"), "*").empty());  // both listings are now kept
    EXPECT_TRUE(FindEntries(path("b"), "*").empty());
    FileTransaction transaction;
    for (const char* name : {"a/One.css", "a/two.css", "b/Three.css", "a/four.css", "b/five.css"}) {
        ASSERT_FALSE(transaction.Stage(path(name), "x"));
    }
    WriteBytes(dir() / "b" / "Other.js", "written by someone else before the commit");
    ASSERT_TRUE(transaction.Commit().empty());
    const auto names = [&](const char* folder) {
        std::vector<std::string> out;
        for (const DirEntry& e : FindEntries(path(folder), "*")) out.push_back(e.name);
        return out;
    };
    EXPECT_EQ(names("a"), (std::vector<std::string>{"four.css", "One.css", "two.css"}));
    EXPECT_EQ(names("b"), (std::vector<std::string>{"five.css", "Other.js", "Three.css"}));
    EXPECT_EQ(ResolveCase(path("a/ONE.CSS")), path("a/One.css"));
    EXPECT_EQ(ResolveCase(path("b/other.JS")), path("b/Other.js"));
}

TEST_F(FileTransactionTest, AHardLinkedTargetIsReplacedAndItsOtherNameReported) {
    WriteBytes(dir() / "course" / "interface.xml", "old");
    fs::create_hard_link(dir() / "course" / "interface.xml", dir() / "backup.xml");
    fs::create_hard_link(dir() / "course" / "interface.xml", dir() / "backup2.xml");
    FileTransaction transaction;
    ASSERT_FALSE(transaction.Stage(path("course/interface.xml"), "new"));
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(ReadBytes(dir() / "course" / "interface.xml"), "new");
    EXPECT_EQ(ReadBytes(dir() / "backup.xml"), "old");
    const std::vector<KeepProblem> problems = transaction.TakeKeepProblems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0].path, path("course/interface.xml"));
    EXPECT_EQ(problems[0].kind, KeepProblem::Kind::OtherNames);
    EXPECT_EQ(problems[0].detail, "2");
    EXPECT_TRUE(transaction.TakeKeepProblems().empty());
}

TEST_F(FileTransactionTest, ManyBytesAskForACommit) {
    WriteSession session;
    FileTransaction transaction(session, std::uint64_t{32} << 20);
    ASSERT_FALSE(transaction.Stage(path("small.xml"), "x"));
    EXPECT_FALSE(transaction.Full());
    ASSERT_FALSE(transaction.Stage(path("large.bin"), std::string(std::size_t{40} << 20, 'b')));
    EXPECT_TRUE(transaction.Full());
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_FALSE(transaction.Full());
    EXPECT_EQ(fs::file_size(dir() / "large.bin"), std::uintmax_t{40} << 20);
}

// Owners, groups, attributes and ACLs: run as root, as the tests do in CI.
class FileTransactionAsRootTest : public FileTransactionTest {
protected:
    void SetUp() override {
        FileTransactionTest::SetUp();
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to hand files to other users";
    }
};

TEST_F(FileTransactionAsRootTest, AReplacedFileKeepsOwnerGroupBitsAttributesAndAcl) {
    const fs::path file = dir() / "course" / "xml" / "interface.xml";
    WriteBytes(file, "old");
    ASSERT_EQ(::chown(file.c_str(), 1234, 1235), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
    const std::string acl = AclGivingUserRead(1236);
    if (::setxattr(file.c_str(), "user.x", "course-owner", 12, 0) != 0 ||
        ::setxattr(file.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) != 0) {
        GTEST_SKIP() << "this file system keeps no extended attributes or ACLs";
    }

    struct Row {
        const char* name;
        bool copy;
    };
    for (const Row row : {Row{"replaced", false}, Row{"copied over", true}}) {
        SCOPED_TRACE(row.name);
        WriteBytes(dir() / "template.xml", "copied");
        ASSERT_EQ(::chmod(path("template.xml").c_str(), 0640), 0);
        FileTransaction transaction;
        ASSERT_FALSE(row.copy ? transaction.StageCopy(file.string(), path("template.xml"))
                              : transaction.Stage(file.string(), "new"));
        ASSERT_TRUE(transaction.Commit().empty());
        const struct stat after = StatOf(file);
        EXPECT_EQ(after.st_uid, 1234u);
        EXPECT_EQ(after.st_gid, 1235u);
        EXPECT_EQ(Attribute(file, "user.x"), "course-owner");
        EXPECT_EQ(Attribute(file, "system.posix_acl_access"), acl);
        EXPECT_EQ(after.st_mode & 07777, 0640u);  // the ACL's mask shows as the group bits
        EXPECT_TRUE(transaction.TakeKeepProblems().empty());
    }
}

TEST_F(FileTransactionAsRootTest, AFileCreatedAsRootTakesItsFoldersOwnerAndGroup) {
    // Files staged one after another into folders of different owners, and
    // back: each takes its own folder's.
    struct Folder {
        const char* name;
        uid_t uid;
        gid_t gid;
    };
    const Folder folders[] = {{"course", 1234, 1235}, {"course/media", 1236, 1237}, {"other", 0, 0}};
    for (const Folder& folder : folders) {
        fs::create_directories(dir() / folder.name);
        ASSERT_EQ(::chown(path(folder.name).c_str(), folder.uid, folder.gid), 0);
    }
    WriteBytes(dir() / "template.js", "js");
    struct Row {
        const char* name;
        const Folder& folder;
        bool copy;
    };
    const Row rows[] = {{"course/imsmanifest.xml", folders[0], false},
                        {"course/player.js", folders[0], true},
                        {"course/media/a.js", folders[1], true},
                        {"other/b.js", folders[2], true},
                        {"course/c.js", folders[0], true},
                        {"course/media/d.xml", folders[1], false}};
    FileTransaction transaction;
    for (const Row& row : rows) {
        ASSERT_FALSE(row.copy ? transaction.StageCopy(path(row.name), path("template.js"))
                              : transaction.Stage(path(row.name), "manifest"));
    }
    ASSERT_TRUE(transaction.Commit().empty());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const struct stat st = StatOf(dir() / row.name);
        EXPECT_EQ(st.st_uid, row.folder.uid);
        EXPECT_EQ(st.st_gid, row.folder.gid);
    }
    EXPECT_TRUE(transaction.TakeKeepProblems().empty());
}

TEST_F(FileTransactionAsRootTest, WhatAnOrdinaryUserCannotKeepIsReported) {
    // A file of user 1235 that user 1234 may write (through its group and folder).
    fs::create_directories(dir() / "shared");
    ASSERT_EQ(::chmod(path("shared").c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir().c_str(), 0755), 0);
    WriteBytes(dir() / "shared" / "page.htm", "old");
    ASSERT_EQ(::chown(path("shared/page.htm").c_str(), 1235, 1235), 0);
    ASSERT_EQ(::chmod(path("shared/page.htm").c_str(), 0666), 0);
    // A commit here first, so that the child is forked from a process whose
    // write-back thread is running: the child's own commit must not wait for it.
    {
        FileTransaction parents;
        ASSERT_FALSE(parents.Stage(path("parent.txt"), "x"));
        ASSERT_TRUE(parents.Commit().empty());
    }

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::alarm(60);  // a hang fails the test instead of stalling it
        if (::setgid(1234) != 0 || ::setuid(1234) != 0) ::_exit(10);
        FileTransaction transaction;
        if (transaction.Stage(path("shared/page.htm"), "new")) ::_exit(11);
        if (!transaction.Commit().empty()) ::_exit(12);
        const std::vector<KeepProblem> problems = transaction.TakeKeepProblems();
        if (problems.size() != 2) ::_exit(13);
        if (problems[0].kind != KeepProblem::Kind::Owner || problems[0].detail != "1235") ::_exit(14);
        if (problems[1].kind != KeepProblem::Kind::Group || problems[1].reason != std::errc::operation_not_permitted) {
            ::_exit(15);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadBytes(dir() / "shared" / "page.htm"), "new");
    EXPECT_EQ(StatOf(dir() / "shared" / "page.htm").st_uid, 1234u);
}

TEST_F(FileTransactionTest, AFileFilledByItsWriterIsStagedAsWrittenWithItsIndexLast) {
    WriteBytes(dir() / "package.zip", "old");
    FileTransaction transaction;
    FolderTree tree;
    const std::optional<Place> place = tree.Resolve(path("package.zip")).place;
    ASSERT_TRUE(place);
    ASSERT_FALSE(transaction.StageWritten(*place, [](StagedWriter& writer) {
        if (auto ec = writer.Write("entries|index?")) return ec;
        const std::uint64_t end = writer.Tell();
        if (auto ec = writer.Seek(end - 1)) return ec;
        if (auto ec = writer.Write("!")) return ec;
        char first[7] = {};
        std::size_t got = 0;
        if (auto ec = writer.ReadAt(0, first, 7, got)) return ec;
        return std::string_view(first, got) == "entries" ? std::error_code{}
                                                         : std::make_error_code(std::errc::io_error);
    }));
    EXPECT_EQ(ReadBytes(dir() / "package.zip"), "old");
    EXPECT_EQ(transaction.StagedBytes(), 14u);
    // A writer that fails leaves nothing staged.
    EXPECT_EQ(
        transaction.StageWritten(*tree.Resolve(path("other.zip")).place,
                                 [](StagedWriter&) { return std::make_error_code(std::errc::no_space_on_device); }),
        std::errc::no_space_on_device);
    ASSERT_TRUE(transaction.Commit().empty());
    EXPECT_EQ(ReadBytes(dir() / "package.zip"), "entries|index!");
    EXPECT_FALSE(fs::exists(dir() / "other.zip"));
}

TEST_F(FileTransactionTest, AFileThatHoldsItsNewBytesAlreadyIsLeftAlone) {
    WriteBytes(dir() / "template.css", "body{}");
    SetModifiedDate(dir() / "template.css", 2020, 1, 2);
    enum class Op { bytes, copy, written };
    struct Row {
        const char* name;
        std::string old;
        Op op;
        std::string bytes;   // for bytes and written
        bool oldDated;       // the old file has the template's date already
        bool keepsFile;      // same inode, no new file put in place
        const char* change;  // what the commit reports, or nothing
    };
    const Row rows[] = {
        {"same bytes", "page", Op::bytes, "page", false, true, nullptr},
        {"different length", "page", Op::bytes, "pages", false, false, "replace"},
        {"same length, different bytes", "page", Op::bytes, "pagE", false, false, "replace"},
        {"written by its writer, same bytes", "page", Op::written, "page", false, true, nullptr},
        {"written by its writer, other bytes", "page", Op::written, "paper", false, false, "replace"},
        {"written by its writer, the old file's first bytes", "page", Op::written, "pa", false, false, "replace"},
        {"copy of the same bytes, other times", "body{}", Op::copy, "", false, true, "touch"},
        {"copy of the same bytes and times", "body{}", Op::copy, "", true, true, nullptr},
        {"copy of other bytes", "body{ }", Op::copy, "", true, false, "replace"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path target = dir() / "target.css";
        WriteBytes(target, row.old);
        if (row.oldDated) {
            SetModifiedDate(target, 2020, 1, 2);
            fs::permissions(target, fs::status(dir() / "template.css").permissions());
        } else {
            SetModifiedDate(target, 2021, 3, 4);
        }
        const struct stat before = StatOf(target);
        FileTransaction transaction;
        FolderTree tree;
        const Place place = *tree.Resolve(target.string()).place;
        switch (row.op) {
            case Op::bytes:
                ASSERT_FALSE(transaction.Stage(place, row.bytes));
                break;
            case Op::copy:
                ASSERT_FALSE(transaction.StageCopy(place, *tree.Resolve(path("template.css")).place));
                break;
            case Op::written: {
                // Written in two parts, the second before the first, as an archive writes its header last.
                int fills = 0;
                ASSERT_FALSE(transaction.StageWritten(place, [&](StagedWriter& w) {
                    ++fills;
                    const std::size_t half = row.bytes.size() / 2;
                    std::error_code ec = w.Seek(half);
                    if (!ec) ec = w.Write(std::string_view(row.bytes).substr(half));
                    if (!ec) ec = w.Seek(0);
                    return ec ? ec : w.Write(std::string_view(row.bytes).substr(0, half));
                }));
                // Compared as it is written: a file that keeps its bytes gets no staged copy.
                EXPECT_EQ(fills, row.keepsFile ? 1 : 2);
                break;
            }
        }
        EXPECT_EQ(transaction.StagedFiles(), row.keepsFile ? 0u : 1u);
        ASSERT_TRUE(transaction.Commit().empty());
        const struct stat after = StatOf(target);
        EXPECT_EQ(after.st_ino == before.st_ino, row.keepsFile);
        EXPECT_EQ(ReadBytes(target), row.op == Op::copy ? ReadBytes(dir() / "template.css") : row.bytes);
        const std::vector<FileChange> changes = transaction.TakeChanges();
        if (row.change == nullptr) {
            EXPECT_TRUE(changes.empty());
            EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);  // a file left alone keeps its time
        } else {
            ASSERT_EQ(changes.size(), 1u);
            EXPECT_EQ(changes[0].kind, std::string_view(row.change) == "touch"     ? FileChange::Kind::touch
                                       : std::string_view(row.change) == "replace" ? FileChange::Kind::replace
                                                                                   : FileChange::Kind::create);
        }
        if (row.op == Op::copy) {
            EXPECT_EQ(after.st_mtim.tv_sec, StatOf(dir() / "template.css").st_mtim.tv_sec);
        }
        fs::remove(target);
    }
}
