#include "platform/StagingSystem.h"

#include <algorithm>
#include <random>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/win32/Win32.h"

namespace platform::sys {

using win32::Handle;
using win32::LastError;

struct StagedFile {
    Handle file;           // the new content, shared with no one
    FolderRef folder;      // where it goes
    std::string tempName;  // its temporary name in `folder`
};

// Windows has no write-back to start nor names to sync: a session holds nothing.
struct SessionState {};

namespace {

std::string RandomTempName() {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random(
        std::random_device{}() ^ (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64());
    std::string name = ".quarvel-XXXXXX.tmp";
    for (std::size_t i = 9; i < 15; ++i) name[i] = kLetters[random() % (sizeof kLetters - 1)];
    return name;
}

std::wstring PathOf(const HeldFolder& folder, const std::string& name) {
    return win32::SystemPath(JoinPath(folder.Path(), name));
}

// A new temporary file in `folder`, open for writing and shared with no one:
// while it is open no other run can delete it as a leftover.
Handle CreateTemp(const HeldFolder& folder, std::string& tempName, std::error_code& ec) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = RandomTempName();
        Handle file(::CreateFileW(PathOf(folder, tempName).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file) return file;
        if (::GetLastError() == ERROR_FILE_EXISTS) continue;
        ec = LastError();
        return {};
    }
    ec = std::make_error_code(std::errc::file_exists);
    return {};
}

std::error_code CopyContent(HANDLE in, HANDLE out) {
    std::string buffer(std::size_t{1} << 16, '\0');
    while (true) {
        DWORD got = 0;
        if (!::ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) return LastError();
        if (got == 0) return {};
        if (const std::error_code ec = win32::WriteAll(out, std::string_view(buffer.data(), got))) return ec;
    }
}

// Writes a staged file at offsets of its own.
class PositionalWriter final : public StagedWriter {
public:
    explicit PositionalWriter(HANDLE file) : m_file(file) {}
    std::error_code Write(std::string_view bytes) override {
        while (!bytes.empty()) {
            OVERLAPPED at{};
            at.Offset = static_cast<DWORD>(m_offset);
            at.OffsetHigh = static_cast<DWORD>(m_offset >> 32);
            const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
            DWORD written = 0;
            if (!::WriteFile(m_file, bytes.data(), chunk, &written, &at)) return LastError();
            if (written == 0) return std::make_error_code(std::errc::io_error);
            m_offset += written;
            bytes.remove_prefix(written);
        }
        return {};
    }
    std::error_code Seek(std::uint64_t offset) override {
        m_offset = offset;
        return {};
    }
    std::uint64_t Tell() const override { return m_offset; }
    std::error_code ReadAt(std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) override {
        return sys::ReadAt(reinterpret_cast<std::intptr_t>(m_file), offset, buffer, length, got);
    }

private:
    HANDLE m_file;
    std::uint64_t m_offset = 0;
};

}  // namespace

SessionState* MakeSessionState() {
    return new SessionState();
}

void EndSessionState(SessionState* state) {
    delete state;
}

std::error_code SyncNames(SessionState&, SyncReport) {
    // Each name was put in place written through (MoveFileExW) or by the
    // system's replace, which commits its own metadata: nothing waits here.
    return {};
}

std::size_t StagedFileBound() {
    return 4096;  // each holds a handle
}

std::error_code InspectTarget(const Place& target, TargetInfo& info) {
    info = {};
    if (target.kind == EntryKind::folder) return std::make_error_code(std::errc::is_a_directory);
    if (target.kind != EntryKind::file) return {};
    const std::optional<DWORD> attributes = win32::Attributes(JoinPath(target.folder->Path(), target.name));
    if (!attributes) return {};
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::make_error_code(std::errc::is_a_directory);
    if ((*attributes & FILE_ATTRIBUTE_READONLY) != 0) return std::make_error_code(std::errc::permission_denied);
    info.exists = true;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (::GetFileAttributesExW(PathOf(*target.folder, target.name).c_str(), GetFileExInfoStandard, &data)) {
        info.size = win32::Join(data.nFileSizeHigh, data.nFileSizeLow);
        info.modified = static_cast<std::int64_t>(win32::Ticks(data.ftLastWriteTime));
    }
    return {};
}

std::error_code DescribeSource(const Place& source, SourceFacts& facts) {
    if (!source.folder || source.name.empty()) return std::make_error_code(std::errc::is_a_directory);
    std::uint64_t size = 0;
    FileStamp stamp;
    std::error_code ec;
    const Handle in(reinterpret_cast<HANDLE>(OpenRegularFile(*source.folder, source.name, size, stamp, ec)));
    if (ec) return ec;
    const auto info = win32::Information(in.Get());
    if (!info) return LastError();
    facts = {0, size, static_cast<std::int64_t>(win32::Ticks(info->ftLastAccessTime)),
             static_cast<std::int64_t>(win32::Ticks(info->ftLastWriteTime))};
    return {};
}

std::error_code TakeSourceFacts(const Place& target, const SourceFacts& facts) {
    const Handle file(::CreateFileW(PathOf(*target.folder, target.name).c_str(), FILE_WRITE_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) return LastError();
    const auto time = [](std::int64_t ticks) {
        FILETIME out{};
        out.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks));
        out.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(ticks) >> 32);
        return out;
    };
    const FILETIME accessed = time(facts.accessed);
    const FILETIME modified = time(facts.modified);
    if (!::SetFileTime(file.Get(), nullptr, &accessed, &modified)) return LastError();
    return {};
}

std::error_code MakeStagedFile(SessionState& state, const Place& target, const TargetInfo&, const ContentSource& source,
                               const StagedFile*, std::shared_ptr<StagedFile>& made, StagedFacts& facts) {
    Handle in;
    std::optional<BY_HANDLE_FILE_INFORMATION> copied;
    if (source.copyOf != nullptr) {
        const Place& from = *source.copyOf;
        if (!from.folder || from.name.empty()) return std::make_error_code(std::errc::is_a_directory);
        std::uint64_t size = 0;
        FileStamp stamp;
        std::error_code ec;
        in = Handle(reinterpret_cast<HANDLE>(OpenRegularFile(*from.folder, from.name, size, stamp, ec)));
        if (ec) return ec;
        copied = win32::Information(in.Get());
        if (!copied) return LastError();
    }
    auto file = std::make_shared<StagedFile>();
    file->folder = target.folder;
    std::error_code ec;
    file->file = CreateTemp(*target.folder, file->tempName, ec);
    if (!file->file) return ec;
    const HANDLE handle = file->file.Get();
    if (in) ec = CopyContent(in.Get(), handle);
    if (!ec) ec = win32::WriteAll(handle, source.bytes);
    if (!ec && source.fill != nullptr) {
        PositionalWriter writer(handle);
        ec = (*source.fill)(writer);
    }
    if (!ec && copied && !::SetFileTime(handle, nullptr, &copied->ftLastAccessTime, &copied->ftLastWriteTime)) {
        ec = LastError();
    }
    const auto written = ec ? std::nullopt : win32::Information(handle);
    if (!ec && !written) ec = LastError();
    if (ec) {
        DropStagedFile(state, *file);
        return ec;
    }
    facts.device = written->dwVolumeSerialNumber;
    facts.bytes = win32::Join(written->nFileSizeHigh, written->nFileSizeLow);
    made = std::move(file);
    return {};
}

std::optional<std::string> ReadStagedFile(SessionState&, const StagedFile& file) {
    const auto info = win32::Information(file.file.Get());
    if (!info) return std::nullopt;
    return win32::ReadAt(file.file.Get(), 0, win32::Join(info->nFileSizeHigh, info->nFileSizeLow));
}

std::error_code ReadStagedAt(SessionState&, const StagedFile& file, std::uint64_t offset, char* buffer,
                             std::size_t length, std::size_t& got) {
    return ReadAt(reinterpret_cast<std::intptr_t>(file.file.Get()), offset, buffer, length, got);
}

void DropStagedFile(SessionState&, StagedFile& file) {
    file.file.Reset();
    if (!file.tempName.empty()) std::ignore = ::DeleteFileW(PathOf(*file.folder, file.tempName).c_str());
    file.tempName.clear();
}

void WaitUntilFilled(SessionState&) {}

std::error_code FillFailure(const StagedFile&) {
    return {};
}

std::error_code MakeDurable(SessionState&, const std::vector<StagedFile*>& files) {
    // Every file's content reaches the disk before any name is put in place.
    for (StagedFile* file : files) {
        if (!::FlushFileBuffers(file->file.Get())) return LastError();
    }
    return {};
}

std::error_code PutInPlace(SessionState&, StagedFile& file, const Place& target, bool existed,
                           listings::ChangeBatch& batch) {
    listings::FolderChange change(*target.folder, &batch);
    // The names below open the file themselves; from here to the move it is
    // closed, for the few moments the system needs.
    file.file.Reset();
    const std::wstring temp = PathOf(*target.folder, file.tempName);
    const std::wstring path = PathOf(*target.folder, target.name);
    const DWORD kept = existed ? ::GetFileAttributesW(path.c_str()) : INVALID_FILE_ATTRIBUTES;
    // ReplaceFileW keeps the replaced file's attributes, ACL and creation
    // time; a new file is moved into place, its name written through.
    const BOOL done =
        existed ? ::ReplaceFileW(path.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                : ::MoveFileExW(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done) {
        const std::error_code ec = LastError();
        change.Forget();
        return ec;  // dropping the file removes the temporary one
    }
    file.tempName.clear();
    change.Added(target.name, false);
    // Not every implementation of the replace carries the attributes over
    // (Wine's does not): they are put back where they went missing.
    if (kept != INVALID_FILE_ATTRIBUTES && ::GetFileAttributesW(path.c_str()) != kept) {
        std::ignore = ::SetFileAttributesW(path.c_str(), kept);
    }
    return {};
}

void NoteRemoved(SessionState&, const Place&) {}  // DeleteFileW needs no later sync here

}  // namespace platform::sys
