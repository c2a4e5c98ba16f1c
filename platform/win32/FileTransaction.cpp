#include "platform/FileTransaction.h"

#include <algorithm>
#include <random>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/FolderListings.h"
#include "platform/win32/Win32.h"

namespace platform {
namespace {

using win32::Handle;
using win32::LastError;

// How many files may be staged at once: each holds a handle.
constexpr std::size_t kStagedFileBound = 4096;

// Where a write to `path` lands: the existing entry (the system finds it in
// any letter case), through a link to the file it names (a dangling link is
// replaced itself). Refuses a folder (is_a_directory) and a read-only file
// (permission_denied).
std::error_code PrepareTarget(const std::string& path, std::string& target, bool& exists) {
    target = ResolveCase(path);
    exists = false;
    std::optional<DWORD> attributes = win32::Attributes(target);
    if (!attributes) return {};
    if ((*attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        const std::optional<std::string> real = RealPath(target);
        if (!real) return {};  // dangling link: replace the link itself
        target = *real;
        attributes = win32::Attributes(target);
        if (!attributes) return {};
    }
    exists = true;
    // The new content takes the existing entry's spelling, whatever letter
    // case the caller used (a replace may otherwise rename it).
    WIN32_FIND_DATAW found{};
    const HANDLE find = ::FindFirstFileExW(win32::SystemPath(target).c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (find != INVALID_HANDLE_VALUE) {
        ::FindClose(find);
        target = JoinPath(ParentPath(target), win32::Narrow(found.cFileName));
    }
    if ((*attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::make_error_code(std::errc::is_a_directory);
    if ((*attributes & FILE_ATTRIBUTE_READONLY) != 0) return std::make_error_code(std::errc::permission_denied);
    return {};
}

std::string RandomTempPath(const std::string& folder) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    thread_local std::mt19937_64 random(
        std::random_device{}() ^ (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64());
    std::string name = ".quarvel-XXXXXX.tmp";
    for (std::size_t i = 9; i < 15; ++i) name[i] = kLetters[random() % (sizeof kLetters - 1)];
    return JoinPath(folder, name);
}

// A new temporary file beside the target, open for writing and shared with no
// one: while it is open no other run can delete it as a leftover.
Handle CreateTemp(const std::string& folder, std::string& tempPath, std::error_code& ec) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempPath = RandomTempPath(folder);
        Handle file(::CreateFileW(win32::SystemPath(tempPath).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
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

}  // namespace

struct FileTransaction::Staged {
    std::string target;    // the final path
    Handle file;           // the new content, shared with no one
    std::string tempPath;  // its temporary name beside the target
    bool exists = false;   // it replaces a file
    std::uint64_t device = 0;
    std::uint64_t bytes = 0;
    std::vector<KeepProblem> problems;
};

struct FileTransaction::Source {
    std::string_view bytes;
    HANDLE copyFrom = INVALID_HANDLE_VALUE;  // or a file whose content is copied
    const BY_HANDLE_FILE_INFORMATION* copied = nullptr;
};

FileTransaction::FileTransaction(std::uint64_t commitBytes) : m_commitBytes(commitBytes) {}

std::error_code FileTransaction::Stage(const std::string& target, std::string_view bytes, const PathEntry* seen) {
    return StageFrom(target, {bytes, INVALID_HANDLE_VALUE, nullptr}, seen);
}

std::error_code FileTransaction::StageCopy(const std::string& target, const std::string& source,
                                           const PathEntry* seen) {
    const std::string resolved = ResolveCase(source);
    if (IsDirectory(resolved)) return std::make_error_code(std::errc::is_a_directory);
    const Handle in = win32::Open(resolved, GENERIC_READ);
    if (!in) return LastError();
    if (::GetFileType(in.Get()) != FILE_TYPE_DISK) return std::make_error_code(std::errc::invalid_argument);
    const auto info = win32::Information(in.Get());
    if (!info) return LastError();
    return StageFrom(target, {{}, in.Get(), &*info}, seen);
}

std::error_code FileTransaction::StageFrom(const std::string& path, const Source& source, const PathEntry* seen) {
    std::string target;
    bool exists = false;
    if (seen != nullptr && seen->kind == EntryKind::missing) {
        target = seen->resolved;
    } else if (const std::error_code ec = PrepareTarget(path, target, exists)) {
        return ec;
    }
    if (!exists) {
        // A new file staged before under another letter case is the same file.
        if (const auto index = IndexOf(target, exists)) target = m_staged[*index].target;
    }

    Staged staged;
    staged.target = target;
    staged.exists = exists;
    std::error_code ec;
    staged.file = CreateTemp(ParentPath(target), staged.tempPath, ec);
    if (!staged.file) return ec;
    const HANDLE file = staged.file.Get();
    if (source.copyFrom != INVALID_HANDLE_VALUE) ec = CopyContent(source.copyFrom, file);
    if (!ec) ec = win32::WriteAll(file, source.bytes);
    if (!ec && source.copied != nullptr &&
        !::SetFileTime(file, nullptr, &source.copied->ftLastAccessTime, &source.copied->ftLastWriteTime)) {
        ec = LastError();
    }
    const auto written = ec ? std::nullopt : win32::Information(file);
    if (!ec && !written) ec = LastError();
    if (ec) {
        Drop(staged);
        return ec;
    }
    staged.device = written->dwVolumeSerialNumber;
    staged.bytes = win32::Join(written->nFileSizeHigh, written->nFileSizeLow);

    CancelRemoval(path);
    Keep(std::move(staged), exists);
    return {};
}

const FileTransaction::Staged* FileTransaction::Find(const std::string& target) const {
    std::string resolved;
    bool exists = false;
    std::ignore = PrepareTarget(target, resolved, exists);
    const std::optional<std::size_t> index = IndexOf(resolved, exists);
    if (!index || !m_staged[*index].file) return nullptr;
    return &m_staged[*index];
}

std::optional<std::string> FileTransaction::ReadStaged(const std::string& target) const {
    const Staged* staged = Find(target);
    if (staged == nullptr) return std::nullopt;
    return win32::ReadAt(staged->file.Get(), 0, staged->bytes);
}

bool FileTransaction::Full() const {
    return m_staged.size() >= kStagedFileBound || m_stagedBytes >= m_commitBytes;
}

bool FileTransaction::IsHeld(const Staged& staged) {
    return static_cast<bool>(staged.file);
}

void FileTransaction::Drop(Staged& staged) {
    staged.file.Reset();
    if (!staged.tempPath.empty()) ::DeleteFileW(win32::SystemPath(staged.tempPath).c_str());
    staged.tempPath.clear();
}

std::vector<CommitFailure> FileTransaction::Commit() {
    std::vector<CommitFailure> failures;
    // Every file's content reaches the disk before any name is put in place.
    for (Staged& staged : m_staged) {
        if (!staged.file || ::FlushFileBuffers(staged.file.Get())) continue;
        failures.push_back({staged.target, LastError()});
        Drop(staged);
    }
    PutAllInPlace(failures);
    return failures;
}

std::error_code FileTransaction::PutInPlace(Staged& staged) {
    listings::FolderChange change(ParentPath(staged.target));
    // The names below open the file themselves; from here to the move it is
    // closed, for the few moments the system needs.
    staged.file.Reset();
    const std::wstring temp = win32::SystemPath(staged.tempPath);
    const std::wstring target = win32::SystemPath(staged.target);
    const DWORD kept = staged.exists ? ::GetFileAttributesW(target.c_str()) : INVALID_FILE_ATTRIBUTES;
    // ReplaceFileW keeps the replaced file's attributes, ACL and creation
    // time; a new file is moved into place, its name written through.
    const BOOL done =
        staged.exists
            ? ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!done) {
        const std::error_code ec = LastError();
        change.Forget();
        return ec;  // the caller's Drop removes the temporary file
    }
    staged.tempPath.clear();
    change.Added(LastComponent(staged.target), false);
    // Not every implementation of the replace carries the attributes over
    // (Wine's does not): they are put back where they went missing.
    if (kept != INVALID_FILE_ATTRIBUTES && ::GetFileAttributesW(target.c_str()) != kept) {
        ::SetFileAttributesW(target.c_str(), kept);
    }
    return {};
}

void FileTransaction::Removed(const std::string&) {}  // DeleteFileW needs no later sync here

std::error_code FileTransaction::SyncNames() {
    // Each name was put in place written through (MoveFileExW) or by the
    // system's replace, which commits its own metadata: nothing waits here.
    return {};
}

}  // namespace platform

#include "platform/FileTransactionBookkeeping.inc"
