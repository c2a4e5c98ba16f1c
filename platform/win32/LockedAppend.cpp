#include "platform/LockedAppend.h"

#include <cstdlib>
#include <optional>
#include <tuple>

#include "platform/AppendJournal.h"
#include "platform/FileSystem.h"
#include "platform/win32/Win32.h"

namespace platform {
namespace {

using win32::Handle;
using win32::LastError;

// The lock is a byte far past any real end of file: it keeps other runs
// waiting without stopping anyone from reading the file meanwhile.
OVERLAPPED LockRange() {
    OVERLAPPED range{};
    range.Offset = 0xFFFFFFFF;
    range.OffsetHigh = 0x7FFFFFFF;
    return range;
}

std::optional<std::uint64_t> SizeOf(HANDLE file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file, &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::error_code CutBack(HANDLE file, std::uint64_t length) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(length);
    if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file) || !::FlushFileBuffers(file)) {
        return LastError();
    }
    return {};
}

std::optional<std::uint64_t> ChecksumOfRange(HANDLE file, std::uint64_t offset, std::uint64_t length) {
    std::uint64_t hash = journal::Checksum({});
    constexpr std::uint64_t kChunk = 1 << 16;
    while (length > 0) {
        const std::uint64_t chunk = std::min(length, kChunk);
        const std::optional<std::string> bytes = win32::ReadAt(file, offset, chunk);
        if (!bytes) return std::nullopt;
        hash = journal::Checksum(*bytes, hash);
        offset += chunk;
        length -= chunk;
    }
    return hash;
}

void RemoveJournal(const std::string& path) {
    ::DeleteFileW(win32::SystemPath(path).c_str());
}

std::error_code WriteAndSync(HANDLE file, std::uint64_t at, std::string_view bytes) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(at);
    if (!::SetFilePointerEx(file, end, nullptr, FILE_BEGIN)) return LastError();
    if (const std::error_code ec = win32::WriteAll(file, bytes)) return ec;
    if (!::FlushFileBuffers(file)) return LastError();
    return {};
}

bool JournalPresent(const std::string& path) {
    return win32::Attributes(path).has_value();
}

// Writes a journal through to the disk; the state folder is made first.
bool WriteJournalFile(const std::string& path, const std::string& bytes, bool inStateFolder) {
    if (inStateFolder) std::ignore = CreateFolder(ParentPath(path));
    const Handle file(::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (win32::WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
        RemoveJournal(path);
        return false;
    }
    return true;
}

}  // namespace

struct LockedAppend::File {
    Handle handle;
    std::uint64_t device = 0;  // the volume's serial number
    std::uint64_t inode = 0;   // the file's index on it
    HANDLE Native() const { return handle.Get(); }
};

LockedAppend::LockedAppend() = default;
LockedAppend::LockedAppend(LockedAppend&&) noexcept = default;
LockedAppend& LockedAppend::operator=(LockedAppend&&) noexcept = default;
LockedAppend::~LockedAppend() = default;

void LockedAppend::Close() {
    m_file.reset();
}

std::error_code LockedAppend::Open(const std::string& path, CreateIfMissing create) {
    Close();
    std::string target = ResolveCase(path);
    if (const std::optional<std::string> real = IsLink(target) ? RealPath(target) : std::nullopt) target = *real;
    if (const std::optional<DWORD> attributes = win32::Attributes(target)) {
        if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::make_error_code(std::errc::is_a_directory);
        if ((*attributes & FILE_ATTRIBUTE_READONLY) != 0) return std::make_error_code(std::errc::permission_denied);
    } else if (create == CreateIfMissing::no) {
        return std::make_error_code(std::errc::no_such_file_or_directory);
    }
    Handle handle(::CreateFileW(win32::SystemPath(target).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                create == CreateIfMissing::yes ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    if (!handle) return LastError();
    if (::GetFileType(handle.Get()) != FILE_TYPE_DISK) return std::make_error_code(std::errc::invalid_argument);
    OVERLAPPED range = LockRange();
    if (!::LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) return LastError();
    const auto info = win32::Information(handle.Get());
    if (!info) return LastError();
    m_path = target;
    m_file = std::make_unique<File>(
        File{std::move(handle), info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow)});
    CutBackUnfinishedAppend();
    return {};
}

std::string LockedAppend::JournalInStateFolder() const {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') return {};
    return JoinPath(
        JoinPath(win32::ProgramPath(local), "quarvel"),
        std::to_string(m_file->device) + "-" + std::to_string(m_file->inode) + std::string(journal::kSuffix));
}

}  // namespace platform

#include "platform/LockedAppendFlow.inc"
