#include "platform/OwnerAccess.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <thread>
#include <vector>

namespace platform {

namespace {

// The groups the user database gives `owner`'s user; just `owner.group`
// when it does not know the user.
std::vector<gid_t> GroupsOf(const FileOwner& owner) {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(owner.user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return {owner.group};
    }
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return {found->pw_gid};
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

enum class Verdict { readable, unreadable, cannotSwitch };

// Runs on its own thread. The raw system calls change this thread's
// credentials only (the C library's wrappers for setgroups would change every
// thread's); the thread ends right after, and its credentials with it.
Verdict OpenAsOwner(const FileOwner& owner, const std::vector<gid_t>& groups, int folder, const char* name,
                    const FileStamp& expected) {
    if (syscall(SYS_setgroups, groups.size(), groups.data()) != 0) return Verdict::cannotSwitch;
    syscall(SYS_setfsgid, owner.group);
    syscall(SYS_setfsuid, owner.user);
    // setfsuid answers the previous value; asked again, it tells whether the switch took.
    if (static_cast<uid_t>(syscall(SYS_setfsuid, owner.user)) != owner.user ||
        static_cast<gid_t>(syscall(SYS_setfsgid, owner.group)) != owner.group) {
        return Verdict::cannotSwitch;
    }
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Verdict::unreadable;
    struct stat st {};
    const bool same = fstat(fd, &st) == 0 && static_cast<unsigned long long>(st.st_dev) == expected.device &&
                      static_cast<unsigned long long>(st.st_ino) == expected.inode;
    close(fd);
    return same ? Verdict::readable : Verdict::unreadable;
}

}  // namespace

std::optional<FileOwner> OwnerOf(const HeldFolder& folder) {
    struct stat st {};
    if (fstat(static_cast<int>(folder.Native()), &st) != 0) return std::nullopt;
    return FileOwner{st.st_uid, st.st_gid};
}

bool RunsAs(const FileOwner& owner) {
    return geteuid() == owner.user;
}

std::optional<FileAccess> AccessOf(const ReadableFile& file) {
    struct stat st {};
    if (!file || fstat(static_cast<int>(file.Native()), &st) != 0) return std::nullopt;
    return FileAccess{{st.st_uid, st.st_gid}, static_cast<std::uint32_t>(st.st_mode & 07777)};
}

bool OwnerCanRead(const FileOwner& owner, const Place& place, const ReadableFile& file) {
    if (!place.folder || !file) return false;
    if (RunsAs(owner)) return true;
    const std::vector<gid_t> groups = GroupsOf(owner);
    Verdict verdict = Verdict::unreadable;
    std::thread([&] {
        verdict =
            OpenAsOwner(owner, groups, static_cast<int>(place.folder->Native()), place.name.c_str(), file.Stamp());
    }).join();
    // Not allowed to act as them (not root): the run reads only what its own user may.
    return verdict != Verdict::unreadable;
}

std::error_code GiveTo(const ReadableFile& file, const std::optional<FileOwner>& owner, std::uint32_t mode) {
    const int fd = static_cast<int>(file.Native());
    // Only root may give a file away; another user's run keeps the zip as its own.
    if (owner && !RunsAs(*owner) && geteuid() == 0 && fchown(fd, owner->user, owner->group) != 0) {
        return {errno, std::generic_category()};
    }
    if (fchmod(fd, mode) != 0) return {errno, std::generic_category()};
    return {};
}

}  // namespace platform
