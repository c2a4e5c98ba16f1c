#include "platform/FileSystem.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/FolderListings.h"
#include "platform/System.h"
#include "platform/win32/Win32.h"

namespace platform {
namespace {

using win32::Attributes;
using win32::Handle;
using win32::LastError;

bool Has(DWORD attributes, DWORD flag) {
    return (attributes & flag) != 0;
}

// The attributes of what `path` names, a link at its end followed.
std::optional<BY_HANDLE_FILE_INFORMATION> FollowedInformation(const std::string& path) {
    const Handle file = win32::Open(path, FILE_READ_ATTRIBUTES, true);
    if (!file) return std::nullopt;
    return win32::Information(file.Get());
}

std::optional<DWORD> FollowedAttributes(const std::string& path) {
    const std::optional<DWORD> attributes = Attributes(path);
    if (!attributes || !Has(*attributes, FILE_ATTRIBUTE_REPARSE_POINT)) return attributes;
    const auto info = FollowedInformation(path);
    if (!info) return std::nullopt;
    return info->dwFileAttributes;
}

// Where the system has the open `file`, as a whole path; empty when it cannot say.
std::string FinalPath(HANDLE file) {
    std::wstring name(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD size = ::GetFinalPathNameByHandleW(file, name.data(), static_cast<DWORD>(name.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (size == 0) return {};
        if (size < name.size()) {
            name.resize(size);
            return win32::ProgramPath(name);
        }
        name.assign(size + 1, L'\0');
    }
    return {};
}

}  // namespace

std::optional<std::string> RealPath(const std::string& path) {
    const Handle file = win32::Open(path, FILE_READ_ATTRIBUTES, true);
    if (!file) return std::nullopt;
    std::string real = FinalPath(file.Get());
    if (real.empty()) return std::nullopt;
    return real;
}

bool IsLink(const std::string& path) {
    const std::optional<DWORD> attributes = Attributes(path);
    return attributes && Has(*attributes, FILE_ATTRIBUTE_REPARSE_POINT);
}

std::optional<std::string> LinkTarget(const std::string& path) {
    if (!IsLink(path)) return std::nullopt;
    return RealPath(path);
}

bool IsDirectory(const std::string& path) {
    const std::optional<DWORD> attributes = FollowedAttributes(ResolveCase(path));
    return attributes && Has(*attributes, FILE_ATTRIBUTE_DIRECTORY);
}

bool IsRegularFile(const std::string& path) {
    const std::optional<DWORD> attributes = FollowedAttributes(ResolveCase(path));
    return attributes && !Has(*attributes, FILE_ATTRIBUTE_DIRECTORY) && !Has(*attributes, FILE_ATTRIBUTE_DEVICE);
}

std::optional<FolderIdentity> IdentifyFolder(const std::string& path) {
    std::optional<BY_HANDLE_FILE_INFORMATION> info = FollowedInformation(path);
    if (!info) info = FollowedInformation(ResolveCase(path));
    if (!info || !Has(info->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FolderIdentity{info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow)};
}

bool CanCreateFileIn(const std::string& folder) {
    // The probe goes away when it is closed; no other run can take it meanwhile.
    const std::string probe = JoinPath(ResolveCase(folder), ".quarvel-probe0.tmp");
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = probe;
        name[name.size() - 5] = static_cast<char>('a' + attempt % 26);
        const Handle file(::CreateFileW(win32::SystemPath(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        if (file) return true;
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_SHARING_VIOLATION) return false;
    }
    return false;
}

std::optional<LocalDate> LastWriteLocalDate(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(win32::SystemPath(ResolveCase(path)).c_str(), GetFileExInfoStandard, &data)) {
        return std::nullopt;
    }
    SYSTEMTIME utc{};
    SYSTEMTIME local{};
    if (!::FileTimeToSystemTime(&data.ftLastWriteTime, &utc) ||
        !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        return std::nullopt;
    }
    return LocalDate{local.wYear, local.wMonth, local.wDay};
}

std::error_code OpenExistingForWriting(const std::string& path) {
    const Handle file = win32::Open(ResolveCase(path), FILE_APPEND_DATA);
    return file ? std::error_code{} : LastError();
}

std::error_code RemoveStaleTempFile(const std::string& path) {
    const std::string target = ResolveCase(path);
    if (!IsSafeReplaceTempName(LastComponent(target))) return std::make_error_code(std::errc::invalid_argument);
    listings::FolderChange change(ParentPath(target));
    // A run still going holds its file open without letting anyone delete it:
    // the deletion fails with a sharing violation, and the file stays.
    if (!::DeleteFileW(win32::SystemPath(target).c_str())) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        change.Forget();
        return win32::ErrorCode(error);
    }
    change.Removed(LastComponent(target));
    return {};
}

void RemoveStaleTempFiles(const std::string& folder) {
    const std::string resolved = ResolveCase(folder);
    std::vector<DirEntry> entries;
    if (!sys::ReadFolder(resolved, entries)) return;
    for (const DirEntry& entry : entries) {
        if (!entry.isDirectory && IsSafeReplaceTempName(entry.name)) {
            std::ignore = RemoveStaleTempFile(JoinPath(resolved, entry.name));
        }
    }
}

namespace sys {

std::optional<EntryKind> LookAt(const std::string& path) {
    const std::optional<DWORD> attributes = Attributes(path);
    if (!attributes) return std::nullopt;
    if (Has(*attributes, FILE_ATTRIBUTE_REPARSE_POINT)) return EntryKind::link;
    if (Has(*attributes, FILE_ATTRIBUTE_DIRECTORY)) return EntryKind::folder;
    if (Has(*attributes, FILE_ATTRIBUTE_DEVICE)) return EntryKind::special;
    return EntryKind::file;
}

std::error_code ListError(const std::string& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileExW(win32::SystemPath(JoinPath(folder, "*")).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return LastError();
    ::FindClose(find);
    return std::make_error_code(std::errc::io_error);
}

std::optional<FolderStamp> StampFolder(const std::string& folder) {
    const auto info = FollowedInformation(folder);
    if (!info || !Has(info->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FolderStamp{info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow),
                       static_cast<std::int64_t>(win32::Ticks(info->ftLastWriteTime))};
}

bool ReadFolder(const std::string& folder, std::vector<DirEntry>& entries) {
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileExW(win32::SystemPath(JoinPath(folder, "*")).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty folder
    do {
        const std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        entries.push_back({win32::Narrow(name), Has(found.dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)});
    } while (::FindNextFileW(find, &found));
    const DWORD error = ::GetLastError();
    ::FindClose(find);
    return error == ERROR_NO_MORE_FILES;
}

bool NamesIgnoreCase() {
    return true;
}

// --- Held folders: handles that let no one rename or delete the folder while
// the run holds it, each keeping its parent held in turn, so that a path
// through held folders names what was checked ---

namespace {

constexpr DWORD kFolderAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr DWORD kFolderSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

HANDLE Native(std::intptr_t native) {
    return reinterpret_cast<HANDLE>(native);
}

std::string EntryPath(const HeldFolder& folder, const std::string& name) {
    return JoinPath(folder.Path(), name);
}

FolderRef Hold(Handle handle, std::string path, std::string realPath, FolderRef parent, bool refuseLinks,
               std::error_code& ec) {
    if (!handle) {
        ec = LastError();
        return nullptr;
    }
    const auto info = win32::Information(handle.Get());
    if (!info) {
        ec = LastError();
        return nullptr;
    }
    if (!Has(info->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY) ||
        (refuseLinks && Has(info->dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT))) {
        ec = std::make_error_code(std::errc::not_a_directory);
        return nullptr;
    }
    const FolderIdentity identity{info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow)};
    return std::make_shared<const HeldFolder>(std::move(path), std::move(realPath), identity,
                                              reinterpret_cast<std::intptr_t>(handle.Release()), std::move(parent));
}

Handle OpenHeld(const std::string& path, bool followLink) {
    return Handle(::CreateFileW(win32::SystemPath(path).c_str(), kFolderAccess, kFolderSharing, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | (followLink ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), nullptr));
}

}  // namespace

FolderRef OpenFolderAt(const std::string& path, bool withRealPath, std::error_code& ec) {
    ec.clear();
    Handle handle = OpenHeld(path, true);
    std::string real = withRealPath && handle ? FinalPath(handle.Get()) : std::string();
    if (withRealPath && real.empty()) real = path;
    return Hold(std::move(handle), path, std::move(real), nullptr, false, ec);
}

FolderRef OpenSubfolder(const FolderRef& folder, const std::string& name, std::string path, std::string realPath,
                        std::error_code& ec) {
    ec.clear();
    return Hold(OpenHeld(EntryPath(*folder, name), false), std::move(path), std::move(realPath), folder, true, ec);
}

FolderRef OpenParentOf(const FolderRef& folder, std::string path, std::error_code& ec) {
    ec.clear();
    std::string real = folder->RealPath().empty() ? std::string() : ParentPath(folder->RealPath());
    return Hold(OpenHeld(ParentPath(folder->Path()), false), std::move(path), std::move(real), nullptr, true, ec);
}

void CloseFolder(std::intptr_t native) {
    Handle{Native(native)};
}

std::optional<EntryStat> StatEntry(const HeldFolder& folder, const std::string& name, std::error_code& ec) {
    ec.clear();
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileExW(win32::SystemPath(EntryPath(folder, name)).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) ec = win32::ErrorCode(error);
        return std::nullopt;
    }
    ::FindClose(find);
    const DWORD attributes = found.dwFileAttributes;
    EntryKind kind = EntryKind::file;
    if (Has(attributes, FILE_ATTRIBUTE_REPARSE_POINT)) {
        kind = EntryKind::link;
    } else if (Has(attributes, FILE_ATTRIBUTE_DIRECTORY)) {
        kind = EntryKind::folder;
    } else if (Has(attributes, FILE_ATTRIBUTE_DEVICE)) {
        kind = EntryKind::special;
    }
    return EntryStat{kind, Has(attributes, FILE_ATTRIBUTE_READONLY), win32::Narrow(found.cFileName)};
}

std::optional<std::string> ReadLink(const HeldFolder& folder, const std::string& name) {
    // Where the system takes it, as a whole path: the tree checks that against its folders.
    const Handle target = win32::Open(EntryPath(folder, name), FILE_READ_ATTRIBUTES, true);
    if (!target) return std::nullopt;
    std::string path = FinalPath(target.Get());
    if (path.empty()) return std::nullopt;
    return path;
}

std::optional<FolderStamp> StampFolder(const HeldFolder& folder) {
    const auto info = win32::Information(Native(folder.Native()));
    if (!info || !Has(info->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
    return FolderStamp{info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow),
                       static_cast<std::int64_t>(win32::Ticks(info->ftLastWriteTime))};
}

bool ReadFolder(const HeldFolder& folder, std::vector<DirEntry>& entries) {
    return ReadFolder(folder.Path(), entries);
}

std::error_code ListError(const HeldFolder& folder) {
    return ListError(folder.Path());
}

std::intptr_t OpenRegularFile(const HeldFolder& folder, const std::string& name, std::uint64_t& size, FileStamp& stamp,
                              std::error_code& ec) {
    ec.clear();
    Handle file(::CreateFileW(win32::SystemPath(EntryPath(folder, name)).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        ec = LastError();
        return -1;
    }
    const auto info = win32::Information(file.Get());
    if (!info) {
        ec = LastError();
        return -1;
    }
    if (Has(info->dwFileAttributes, FILE_ATTRIBUTE_DIRECTORY)) {
        ec = std::make_error_code(std::errc::is_a_directory);
        return -1;
    }
    if (Has(info->dwFileAttributes, FILE_ATTRIBUTE_REPARSE_POINT) || ::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        ec = MakeError(FileError::notRegularFile);
        return -1;
    }
    size = win32::Join(info->nFileSizeHigh, info->nFileSizeLow);
    stamp = FileStamp{static_cast<long long>(size), static_cast<long long>(win32::Ticks(info->ftLastWriteTime)) * 100,
                      info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow)};
    return reinterpret_cast<std::intptr_t>(file.Release());
}

void CloseFile(std::intptr_t native) {
    Handle{Native(native)};
}

std::error_code ReadAt(std::intptr_t file, std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    got = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(length, 1u << 20));
    if (!::ReadFile(Native(file), buffer, chunk, &read, &at)) {
        if (::GetLastError() == ERROR_HANDLE_EOF) return {};
        return LastError();
    }
    got = read;
    return {};
}

std::error_code RemoveEntry(const HeldFolder& folder, const std::string& name) {
    const std::wstring path = win32::SystemPath(EntryPath(folder, name));
    if (::DeleteFileW(path.c_str())) return {};
    // A link to a folder goes as a folder does.
    if (::GetLastError() == ERROR_ACCESS_DENIED && ::RemoveDirectoryW(path.c_str())) return {};
    return LastError();
}

std::error_code RemoveStaleEntry(const HeldFolder& folder, const std::string& name, bool& removed) {
    removed = false;
    // A run still going holds its file open without letting anyone delete it:
    // the deletion fails with a sharing violation, and the file stays.
    if (!::DeleteFileW(win32::SystemPath(EntryPath(folder, name)).c_str())) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED || error == ERROR_FILE_NOT_FOUND) {
            return {};
        }
        return win32::ErrorCode(error);
    }
    removed = true;
    return {};
}

std::error_code MakeFolder(const HeldFolder& folder, const std::string& name) {
    if (!::CreateDirectoryW(win32::SystemPath(EntryPath(folder, name)).c_str(), nullptr)) return LastError();
    return {};
}

std::error_code AddOwnerWrite(const HeldFolder& folder, const std::string& name) {
    const std::string path = EntryPath(folder, name);
    const std::optional<DWORD> attributes = Attributes(path);
    if (!attributes) return LastError();
    if (!Has(*attributes, FILE_ATTRIBUTE_READONLY) || Has(*attributes, FILE_ATTRIBUTE_REPARSE_POINT)) return {};
    if (!::SetFileAttributesW(win32::SystemPath(path).c_str(), *attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return LastError();
    }
    return {};
}

}  // namespace sys
}  // namespace platform
