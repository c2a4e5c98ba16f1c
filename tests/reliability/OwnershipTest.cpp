#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>

#include "CourseLibrary.h"
#include "World.h"

namespace {

const unsigned kOwner = 1234;  // a course owner other than the user running the job
const char* const kAttribute = "user.course-origin";

std::string Output(const std::string& command) {
    std::string text;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) text.append(buffer, n);
        ::pclose(pipe);
    }
    return text;
}

bool Shell(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

struct Ownership {
    unsigned uid = 0, gid = 0, mode = 0;
    std::string acl, attribute;
    bool operator==(const Ownership&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Ownership& o) {
    return out << o.uid << ":" << o.gid << " mode " << std::oct << o.mode << std::dec << " acl [" << o.acl
               << "] xattr [" << o.attribute << "]";
}

Ownership OwnershipOf(const fs::path& path) {
    Ownership o;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return o;
    o.uid = st.st_uid;
    o.gid = st.st_gid;
    o.mode = st.st_mode & 07777;
    o.acl = Output("getfacl -n --omit-header -- '" + path.string() + "' 2>/dev/null");
    char value[256];
    const ssize_t n = ::getxattr(path.c_str(), kAttribute, value, sizeof value);
    if (n >= 0) o.attribute.assign(value, static_cast<std::size_t>(n));
    return o;
}

// A run as root over courses that belong to someone else: every file it
// replaces keeps its owner, group, bits, ACL and extended attributes, every
// file it creates belongs to the folder's owner, and a file with a second
// hard link is replaced with a note in the patch log.
class OwnershipTest : public TempDirTest {
protected:
    void SetUp() override {
        if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files to another user";
        TempDirTest::SetUp();
        courselib::GenerateInstallation(dir() / "install");
        WriteBytes(dir() / "quarvel.conf", "NB Path=" + (dir() / "install").string() + "\n");
    }

    // Generates two bundles at `tree` and runs the main job over them.
    BatchRun Run(const fs::path& tree, const std::function<void()>& prepare = {}) {
        courselib::GenerateCourses(tree, 2);
        if (prepare) prepare();
        return RunBatch(dir() / "quarvel.conf", {"exitStatusMode=PassedIncomplete", tree.string()});
    }
};

TEST_F(OwnershipTest, ReplacedFilesKeepTheirOwnerAndNewFilesTakeTheFolders) {
    // Which files a run replaces and creates, learned on a plain copy.
    const fs::path reference = dir() / "reference";
    Snapshot before;
    ASSERT_EQ(Run(reference, [&] { before = TakeSnapshot(reference); }).exitCode, 0);
    const Snapshot after = TakeSnapshot(reference);
    std::vector<std::string> replaced, created;
    for (const auto& [path, bytes] : after) {
        const auto b = before.find(path);
        if (b == before.end()) created.push_back(path);
        if (b != before.end() && b->second != bytes) replaced.push_back(path);
    }
    ASSERT_GE(replaced.size(), 2u);
    ASSERT_FALSE(created.empty());

    const fs::path tree = dir() / "tree";
    const fs::path linked = tree / replaced[1];
    const fs::path backup = dir() / "backup" / "other-name";
    std::map<std::string, Ownership> owned;
    const BatchRun run = Run(tree, [&] {
        ASSERT_TRUE(
            Shell("chown -R " + std::to_string(kOwner) + ":" + std::to_string(kOwner) + " '" + tree.string() + "'"));
        for (const std::string& path : replaced) {
            const fs::path file = tree / path;
            // The first stays private to its owner; the others are shared through an ACL.
            ASSERT_EQ(::chmod(file.c_str(), path == replaced[0] ? 0600 : 0640), 0);
            if (path != replaced[0]) {
                ASSERT_TRUE(Shell("setfacl -m u:4321:rw,g:4321:r -- '" + file.string() + "'")) << "setfacl (acl)";
            }
            ASSERT_EQ(::setxattr(file.c_str(), kAttribute, "owner's note", 12, 0), 0) << "no user xattrs here";
            owned[path] = OwnershipOf(file);
        }
        fs::create_directories(backup.parent_path());
        fs::create_hard_link(linked, backup);
    });
    ASSERT_FALSE(HasFailure());
    EXPECT_NE(run.exitCode, -1);

    for (const std::string& path : replaced) {
        SCOPED_TRACE(path);
        EXPECT_EQ(ReadBytes(tree / path), after.at(path)) << "not replaced";
        EXPECT_EQ(OwnershipOf(tree / path), owned[path]);
    }
    std::vector<std::string> foreign;
    int inOwnedFolders = 0;
    for (const std::string& path : created) {
        if (OwnershipOf((tree / path).parent_path()).uid != kOwner) continue;  // see the folder test below
        ++inOwnedFolders;
        const Ownership o = OwnershipOf(tree / path);
        if (o.uid != kOwner || o.gid != kOwner) foreign.push_back(path);
    }
    EXPECT_GT(inOwnedFolders, 0);
    EXPECT_TRUE(foreign.empty()) << foreign.size() << " of " << inOwnedFolders
                                 << " new files do not belong to their folder's owner, e.g. " << foreign.front();
    // The other name is a backup: it keeps the old bytes, and the log says so.
    EXPECT_EQ(ReadBytes(backup), before.at(replaced[1]));
    const std::string log = ReadBytes(dir() / "install" / "nb_logfile.txt");
    EXPECT_NE(log.find(Utf16LeBytes(linked.string())), std::string::npos)
        << "the patch log does not name the hard-linked file " << linked;
}

// A folder the run creates (or recreates) in someone else's bundle is theirs
// too: a root-owned folder would lock its owner out of their own course.
TEST_F(OwnershipTest, FoldersTheRunCreatesBelongToTheBundlesOwner) {
    const fs::path tree = dir() / "tree";
    Run(tree, [&] {
        ASSERT_TRUE(
            Shell("chown -R " + std::to_string(kOwner) + ":" + std::to_string(kOwner) + " '" + tree.string() + "'"));
    });
    std::vector<std::string> foreign;
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        const Ownership o = OwnershipOf(entry.path());
        if (entry.is_directory() && (o.uid != kOwner || o.gid != kOwner)) foreign.push_back(entry.path().string());
    }
    EXPECT_TRUE(foreign.empty()) << foreign.size() << " folders taken from their owner, e.g. " << foreign.front();
}

}  // namespace
