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

}  // namespace

struct LockedAppend::File {
    Handle handle;
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
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
        std::to_string(m_file->volume) + "-" + std::to_string(m_file->index) + std::string(journal::kSuffix));
}

void LockedAppend::CutBackUnfinishedAppend() {
    for (const std::string& journal : {JournalBeside(), JournalInStateFolder()}) {
        if (journal.empty()) continue;
        const std::optional<journal::Record> record = journal::Read(journal);
        if (record && record->device == m_file->volume && record->inode == m_file->index) {
            const std::optional<std::uint64_t> size = SizeOf(m_file->handle.Get());
            if (!size) return;  // keep the journal for a later try
            // Shorter than before the append: the file was changed since; nothing to cut.
            if (*size > record->oldLength) {
                const std::uint64_t appended = record->newLength - record->oldLength;
                const bool whole =
                    *size >= record->newLength &&
                    ChecksumOfRange(m_file->handle.Get(), record->oldLength, appended) == record->checksum;
                if (!whole && CutBack(m_file->handle.Get(), record->oldLength)) return;
            }
        } else if (!record && !win32::Attributes(journal)) {
            continue;
        }
        RemoveJournal(journal);
    }
}

bool LockedAppend::WriteJournal(std::uint64_t oldLength, std::uint64_t newLength, std::uint64_t checksum,
                                Journal& journal) {
    const std::string bytes = journal::Text({m_file->volume, m_file->index, oldLength, newLength, checksum});
    const std::string state = JournalInStateFolder();
    for (const std::string& path : {JournalBeside(), state}) {
        if (path.empty()) continue;
        const std::string folder = ParentPath(path);
        if (path == state) std::ignore = CreateFolder(folder);
        const Handle file(::CreateFileW(win32::SystemPath(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file) continue;
        if (win32::WriteAll(file.Get(), bytes) || !::FlushFileBuffers(file.Get())) {
            RemoveJournal(path);
            continue;
        }
        journal = {path, folder};
        return true;
    }
    return false;
}

std::error_code LockedAppend::Append(std::string_view bytes, std::string_view prefixIfEmpty) {
    if (!IsOpen()) return std::make_error_code(std::errc::bad_file_descriptor);
    const HANDLE file = m_file->handle.Get();
    const std::optional<std::uint64_t> size = SizeOf(file);
    if (!size) return LastError();
    const std::uint64_t oldLength = *size;
    std::string data;
    if (oldLength == 0) data.append(prefixIfEmpty);
    data.append(bytes);
    if (data.empty()) return {};

    // Without any journal (no writable place for one) the append still goes
    // in: its lines matter more than the cut-back of a power cut in the middle.
    Journal journal;
    const bool journaled = WriteJournal(oldLength, oldLength + data.size(), journal::Checksum(data), journal);
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(oldLength);
    std::error_code ec = ::SetFilePointerEx(file, end, nullptr, FILE_BEGIN) ? std::error_code{} : LastError();
    if (!ec) ec = win32::WriteAll(file, data);
    if (!ec && !::FlushFileBuffers(file)) ec = LastError();
    if (ec && CutBack(file, oldLength)) return ec;  // the journal stays: the next run cuts it back
    if (journaled) RemoveJournal(journal.path);
    return ec;
}

}  // namespace platform
