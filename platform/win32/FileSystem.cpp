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

// Opens a regular file for reading; a folder gives is_a_directory, a device
// or pipe FileError::notRegularFile.
Handle OpenRegularForReading(const std::string& path, std::error_code& ec) {
    ec.clear();
    const std::string resolved = ResolveCase(path);
    const std::optional<DWORD> attributes = FollowedAttributes(resolved);
    if (attributes && Has(*attributes, FILE_ATTRIBUTE_DIRECTORY)) {
        ec = std::make_error_code(std::errc::is_a_directory);
        return {};
    }
    Handle file = win32::Open(resolved, GENERIC_READ);
    if (!file) {
        ec = LastError();
        return {};
    }
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        ec = MakeError(FileError::notRegularFile);
        return {};
    }
    return file;
}

}  // namespace

std::optional<std::string> RealPath(const std::string& path) {
    const Handle file = win32::Open(path, FILE_READ_ATTRIBUTES, true);
    if (!file) return std::nullopt;
    std::wstring name(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD size = ::GetFinalPathNameByHandleW(file.Get(), name.data(), static_cast<DWORD>(name.size()),
                                                       FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (size == 0) return std::nullopt;
        if (size < name.size()) {
            name.resize(size);
            return win32::ProgramPath(name);
        }
        name.assign(size + 1, L'\0');
    }
    return std::nullopt;
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

std::optional<std::string> ReadFileBytes(const std::string& path, std::error_code& ec) {
    const Handle file = OpenRegularForReading(path, ec);
    if (!file) return std::nullopt;
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.Get(), &size)) {
        ec = LastError();
        return std::nullopt;
    }
    // The size plus a little, so that a file that grows while it is read is
    // noticed without the buffer ever growing past what the file held.
    constexpr std::size_t kSlack = 4096;
    std::string bytes(static_cast<std::size_t>(size.QuadPart) + kSlack, '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - have, 1u << 30));
        DWORD got = 0;
        if (!::ReadFile(file.Get(), bytes.data() + have, chunk, &got, nullptr)) {
            ec = LastError();
            return std::nullopt;
        }
        if (got == 0) break;
        have += got;
    }
    if (have == bytes.size()) {
        ec = std::make_error_code(std::errc::file_too_large);  // it kept growing while it was read
        return std::nullopt;
    }
    bytes.resize(have);
    return bytes;
}

bool CanOpenForReading(const std::string& path) {
    std::error_code ec;
    return static_cast<bool>(OpenRegularForReading(path, ec));
}

std::error_code RemoveFile(const std::string& path) {
    const std::string target = ResolveCase(path);
    const std::optional<DWORD> attributes = Attributes(target);
    if (!attributes) {
        const std::error_code ec = LastError();
        return ec == std::errc::no_such_file_or_directory ? std::error_code{} : ec;
    }
    const bool link = Has(*attributes, FILE_ATTRIBUTE_REPARSE_POINT);
    if (Has(*attributes, FILE_ATTRIBUTE_DIRECTORY) && !link) return std::make_error_code(std::errc::is_a_directory);
    if (!link && Has(*attributes, FILE_ATTRIBUTE_READONLY)) return std::make_error_code(std::errc::permission_denied);
    // Another run's file in flight is not this run's to delete.
    if (!link && IsSafeReplaceTempName(LastComponent(target))) return RemoveStaleTempFile(target);
    listings::FolderChange change(ParentPath(target));
    if (!::DeleteFileW(win32::SystemPath(target).c_str())) {
        const std::error_code ec = LastError();
        change.Forget();
        return ec == std::errc::no_such_file_or_directory ? std::error_code{} : ec;
    }
    change.Removed(LastComponent(target));
    return {};
}

std::error_code CreateFolder(const std::string& path) {
    const std::string target = ResolveCase(path);
    listings::FolderChange change(ParentPath(target));
    if (!::CreateDirectoryW(win32::SystemPath(target).c_str(), nullptr)) return LastError();
    change.Added(LastComponent(target), true);
    return {};
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

bool IsReadOnly(const std::string& path) {
    const std::optional<DWORD> attributes = FollowedAttributes(ResolveCase(path));
    return attributes && Has(*attributes, FILE_ATTRIBUTE_READONLY);
}

std::error_code ClearReadOnly(const std::string& path) {
    const std::string target = ResolveCase(path);
    const std::optional<DWORD> attributes = Attributes(target);
    if (!attributes) return LastError();
    if (!Has(*attributes, FILE_ATTRIBUTE_READONLY)) return {};
    if (!::SetFileAttributesW(win32::SystemPath(target).c_str(), *attributes & ~FILE_ATTRIBUTE_READONLY)) {
        return LastError();
    }
    return {};
}

std::optional<FileStamp> ReadableFileStamp(const std::string& path) {
    std::error_code ec;
    const Handle file = OpenRegularForReading(path, ec);
    if (!file) return std::nullopt;
    const auto info = win32::Information(file.Get());
    if (!info) return std::nullopt;
    return FileStamp{static_cast<long long>(win32::Join(info->nFileSizeHigh, info->nFileSizeLow)),
                     static_cast<long long>(win32::Ticks(info->ftLastWriteTime)) * 100, info->dwVolumeSerialNumber,
                     win32::Join(info->nFileIndexHigh, info->nFileIndexLow)};
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

}  // namespace sys
}  // namespace platform
