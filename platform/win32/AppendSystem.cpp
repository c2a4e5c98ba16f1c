#include "platform/AppendSystem.h"

#include <cstdlib>
#include <optional>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/System.h"
#include "platform/win32/Win32.h"

namespace platform::sys {

using win32::Handle;
using win32::LastError;

struct AppendFile {
    Handle handle;
};

void CloseAppendFile(AppendFile* file) {
    delete file;  // closing the file releases its lock
}

namespace {

// The lock is a byte far past any real end of file: it keeps other runs
// waiting without stopping anyone from reading the file meanwhile.
OVERLAPPED LockRange() {
    OVERLAPPED range{};
    range.Offset = 0xFFFFFFFF;
    range.OffsetHigh = 0x7FFFFFFF;
    return range;
}

std::wstring PathOf(const HeldFolder& folder, const std::string& name) {
    return win32::SystemPath(JoinPath(folder.Path(), name));
}

}  // namespace

AppendFileRef OpenForAppend(const Place& place, bool create, FolderIdentity& identity, bool& created,
                            std::error_code& ec) {
    const std::wstring path = PathOf(*place.folder, place.name);
    created = false;
    Handle handle(::CreateFileW(
        path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        create ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!handle) {
        ec = LastError();
        return {nullptr, &CloseAppendFile};
    }
    created = create && ::GetLastError() != ERROR_ALREADY_EXISTS;
    const auto info = win32::Information(handle.Get());
    if (!info) {
        ec = LastError();
        return {nullptr, &CloseAppendFile};
    }
    if ((info->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || ::GetFileType(handle.Get()) != FILE_TYPE_DISK) {
        ec = MakeError(FileError::notRegularFile);
        return {nullptr, &CloseAppendFile};
    }
    OVERLAPPED range = LockRange();
    if (!::LockFileEx(handle.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &range)) {
        ec = LastError();
        return {nullptr, &CloseAppendFile};
    }
    identity = {info->dwVolumeSerialNumber, win32::Join(info->nFileIndexHigh, info->nFileIndexLow)};
    return {new AppendFile{std::move(handle)}, &CloseAppendFile};
}

std::optional<std::uint64_t> SizeOf(AppendFile& file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.handle.Get(), &size)) return std::nullopt;
    return static_cast<std::uint64_t>(size.QuadPart);
}

std::error_code ReadAt(AppendFile& file, std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
    return ReadAt(reinterpret_cast<std::intptr_t>(file.handle.Get()), offset, buffer, length, got);
}

std::error_code CutBack(AppendFile& file, std::uint64_t length) {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(length);
    const HANDLE handle = file.handle.Get();
    if (!::SetFilePointerEx(handle, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(handle) ||
        !::FlushFileBuffers(handle)) {
        return LastError();
    }
    return {};
}

std::error_code WriteAndSync(AppendFile& file, std::uint64_t offset, std::string_view bytes) {
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(offset);
    const HANDLE handle = file.handle.Get();
    if (!::SetFilePointerEx(handle, end, nullptr, FILE_BEGIN)) return LastError();
    if (const std::error_code ec = win32::WriteAll(handle, bytes)) return ec;
    if (!::FlushFileBuffers(handle)) return LastError();
    return {};
}

std::error_code WriteDurably(const HeldFolder& folder, const std::string& name, std::string_view bytes) {
    const std::wstring path = PathOf(folder, name);
    std::error_code ec;
    {
        const Handle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
        if (!file) return LastError();
        ec = win32::WriteAll(file.Get(), bytes);
        if (!ec && !::FlushFileBuffers(file.Get())) ec = LastError();
    }
    if (ec) std::ignore = ::DeleteFileW(path.c_str());
    return ec;
}

void RemoveDurably(const HeldFolder& folder, const std::string& name) {
    std::ignore = ::DeleteFileW(PathOf(folder, name).c_str());
}

std::string StateFolder(bool make) {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') return {};
    const std::string folder = JoinPath(win32::ProgramPath(local), "quarvel");
    if (make) std::ignore = ::CreateDirectoryW(win32::SystemPath(folder).c_str(), nullptr);
    return folder;
}

}  // namespace platform::sys
