#include "platform/RunRecordSystem.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "platform/AppendSystem.h"
#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/win32/Win32.h"

// Windows reaches entries by the held folder's path and a name, as the rest
// of the Windows layer does; the held handle keeps the folder from being
// renamed meanwhile. Bits are the file's attributes; owners are left as they
// are (ACLs stay with a replaced file's successor there).
namespace platform {

using win32::Handle;
using win32::LastError;

namespace {

std::wstring PathOf(const HeldFolder& folder, const std::string& name) {
    return win32::SystemPath(JoinPath(folder.Path(), name));
}

FILETIME FileTime(std::int64_t ticks) {
    FILETIME out{};
    out.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
    out.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
    return out;
}

constexpr DWORD kKeptAttributes =
    FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE;

}  // namespace

std::error_code DescribeEntry(const Place& place, EntryFacts& facts) {
    facts = {};
    const Handle file(::CreateFileW(PathOf(*place.folder, place.name).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
        return win32::ErrorCode(error);
    }
    const auto info = win32::Information(file.Get());
    if (!info) return LastError();
    facts.exists = true;
    facts.regular = (info->dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    facts.mode = info->dwFileAttributes & kKeptAttributes;
    facts.links = info->nNumberOfLinks;
    facts.size = win32::Join(info->nFileSizeHigh, info->nFileSizeLow);
    facts.accessed = static_cast<std::int64_t>(win32::Ticks(info->ftLastAccessTime));
    facts.modified = static_cast<std::int64_t>(win32::Ticks(info->ftLastWriteTime));
    facts.device = info->dwVolumeSerialNumber;
    facts.index = win32::Join(info->nFileIndexHigh, info->nFileIndexLow);
    return {};
}

std::error_code KeepFile(const Place& place, const HeldFolder& record, const std::string& keptName, bool& copied) {
    copied = false;
    EntryFacts facts;
    if (const std::error_code ec = DescribeEntry(place, facts)) return ec;
    if (!facts.exists) return std::make_error_code(std::errc::no_such_file_or_directory);
    if (!facts.regular) return MakeError(FileError::notRegularFile);
    const std::wstring source = PathOf(*place.folder, place.name);
    const std::wstring kept = PathOf(record, keptName);
    // A file with other names would count the record's among them: such a file is copied.
    if (facts.links == 1 && ::CreateHardLinkW(kept.c_str(), source.c_str(), nullptr)) return {};
    copied = true;
    if (!::CopyFileW(source.c_str(), kept.c_str(), TRUE)) return LastError();
    std::ignore = ::SetFileAttributesW(kept.c_str(), FILE_ATTRIBUTE_NORMAL);
    const Handle file(::CreateFileW(kept.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file || !::FlushFileBuffers(file.Get())) {
        const std::error_code ec = LastError();
        std::ignore = ::DeleteFileW(kept.c_str());
        return ec;
    }
    return {};
}

std::error_code SyncRecord(const HeldFolder&, bool) {
    // Names are committed by the file system's own journal, and copies were flushed as they were made.
    return {};
}

std::error_code SetEntryFacts(const Place& place, const EntryFacts& facts, bool) {
    const std::wstring path = PathOf(*place.folder, place.name);
    {
        const Handle file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file) return LastError();
        const FILETIME accessed = FileTime(facts.accessed);
        const FILETIME modified = FileTime(facts.modified);
        if (!::SetFileTime(file.Get(), nullptr, &accessed, &modified)) return LastError();
    }
    const DWORD attributes = facts.mode & kKeptAttributes;
    if (!::SetFileAttributesW(path.c_str(), attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes)) return LastError();
    return {};
}

std::error_code RemoveEmptyFolder(const Place& place) {
    if (::RemoveDirectoryW(PathOf(*place.folder, place.name).c_str())) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_DIR_NOT_EMPTY) return std::make_error_code(std::errc::directory_not_empty);
    return win32::ErrorCode(error);
}

std::error_code RemoveFlatFolder(const HeldFolder& parent, const std::string& name) {
    const std::string folder = JoinPath(parent.Path(), name);
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileW(win32::SystemPath(JoinPath(folder, "*")).c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring entry = found.cFileName;
            if (entry == L"." || entry == L"..") continue;
            const std::wstring path = win32::SystemPath(JoinPath(folder, win32::Narrow(entry)));
            std::ignore = ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            std::ignore = ::DeleteFileW(path.c_str());
        } while (::FindNextFileW(find, &found));
        ::FindClose(find);
    }
    if (::RemoveDirectoryW(win32::SystemPath(folder).c_str())) return {};
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {};
    return win32::ErrorCode(error);
}

FolderRef OpenPrivateFolder(const FolderRef& parent, const std::string& name, PrivateFolder how, std::error_code& ec) {
    ec.clear();
    if (how != PrivateFolder::open && !::CreateDirectoryW(PathOf(*parent, name).c_str(), nullptr)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS || how == PrivateFolder::makeNew) {
            ec = error == ERROR_ALREADY_EXISTS ? std::make_error_code(std::errc::file_exists) : win32::ErrorCode(error);
            return nullptr;
        }
    }
    // The folder inherits the ACL of the folder it is in: one of the user's own under
    // their profile, the install folder's otherwise.
    return sys::OpenSubfolder(parent, name, JoinPath(parent->Path(), name), {}, ec);
}

FolderRef OpenFolderPath(const std::string& path, std::error_code& ec) {
    return sys::OpenFolderAt(path, false, ec);
}

std::string UserStateFolder(bool make) {
    return sys::StateFolder(make);
}

struct RecordJournal::Handle {
    win32::Handle file;
};

RecordJournal::RecordJournal() = default;
RecordJournal::~RecordJournal() = default;

std::error_code RecordJournal::Open(const HeldFolder& folder, const std::string& name) {
    win32::Handle file(::CreateFileW(PathOf(folder, name).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return LastError();
    m_handle = std::make_unique<Handle>(Handle{std::move(file)});
    return {};
}

bool RecordJournal::IsOpen() const {
    return m_handle != nullptr;
}

std::error_code RecordJournal::Append(std::string_view bytes) {
    if (!m_handle) return std::make_error_code(std::errc::bad_file_descriptor);
    return win32::WriteAll(m_handle->file.Get(), bytes);
}

std::error_code RecordJournal::Sync() {
    if (!m_handle) return std::make_error_code(std::errc::bad_file_descriptor);
    if (!::FlushFileBuffers(m_handle->file.Get())) return LastError();
    return {};
}

void RecordJournal::Close() {
    m_handle.reset();
}

}  // namespace platform
