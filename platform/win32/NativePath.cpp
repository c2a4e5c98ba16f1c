#include <algorithm>
#include <vector>

#include "platform/System.h"
#include "platform/win32/Win32.h"

namespace platform::win32 {
namespace {

// Past this length an absolute path goes to the system with the "\\?\"
// prefix, which lifts the 260-character limit (and leaves room for a name
// the system adds, as CreateDirectoryW does).
constexpr std::size_t kLongPath = 240;

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

}  // namespace

std::wstring Widen(std::string_view utf8) {
    if (utf8.empty()) return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view wide) {
    if (wide.empty()) return {};
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size, nullptr, nullptr);
    return utf8;
}

std::wstring SystemPath(const std::string& path) {
    std::wstring wide = Widen(path);
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    if (wide.size() < kLongPath || wide.starts_with(L"\\\\?\\")) return wide;
    if (wide.size() > 2 && IsDriveLetter(path[0]) && path[1] == ':' && path[2] == '/') return L"\\\\?\\" + wide;
    if (wide.starts_with(L"\\\\")) return L"\\\\?\\UNC\\" + wide.substr(2);
    return wide;
}

std::string ProgramPath(std::wstring_view path) {
    std::wstring text(path);
    if (text.starts_with(L"\\\\?\\UNC\\")) {
        text = L"\\\\" + text.substr(8);
    } else if (text.starts_with(L"\\\\?\\")) {
        text = text.substr(4);
    }
    std::string out = Narrow(text);
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

std::error_code ErrorCode(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_NETPATH:
        case ERROR_INVALID_DRIVE:
            return std::make_error_code(std::errc::no_such_file_or_directory);
        case ERROR_ACCESS_DENIED:
        case ERROR_CANNOT_MAKE:
            return std::make_error_code(std::errc::permission_denied);
        case ERROR_ALREADY_EXISTS:
        case ERROR_FILE_EXISTS:
            return std::make_error_code(std::errc::file_exists);
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return std::make_error_code(std::errc::no_space_on_device);
        case ERROR_DIRECTORY:
            return std::make_error_code(std::errc::not_a_directory);
        case ERROR_DIR_NOT_EMPTY:
            return std::make_error_code(std::errc::directory_not_empty);
        case ERROR_FILENAME_EXCED_RANGE:
            return std::make_error_code(std::errc::filename_too_long);
        case ERROR_INVALID_NAME:
        case ERROR_INVALID_PARAMETER:
            return std::make_error_code(std::errc::invalid_argument);
        case ERROR_WRITE_PROTECT:
            return std::make_error_code(std::errc::read_only_file_system);
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
            return std::make_error_code(std::errc::device_or_resource_busy);
        case ERROR_NOT_ENOUGH_MEMORY:
        case ERROR_OUTOFMEMORY:
            return std::make_error_code(std::errc::not_enough_memory);
        default:
            return {static_cast<int>(error), std::system_category()};
    }
}

std::error_code LastError() {
    return ErrorCode(::GetLastError());
}

Handle Open(const std::string& path, DWORD access, bool folders) {
    return Handle(::CreateFileW(SystemPath(path).c_str(), access,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                folders ? FILE_FLAG_BACKUP_SEMANTICS : 0, nullptr));
}

std::optional<DWORD> Attributes(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(SystemPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return std::nullopt;
    return attributes;
}

std::optional<BY_HANDLE_FILE_INFORMATION> Information(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
    return info;
}

std::error_code WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr)) return LastError();
        if (written == 0) return std::make_error_code(std::errc::io_error);
        bytes.remove_prefix(written);
    }
    return {};
}

std::optional<std::string> ReadAt(HANDLE file, std::uint64_t offset, std::uint64_t length) {
    std::string bytes(static_cast<std::size_t>(length), '\0');
    std::size_t have = 0;
    while (have < bytes.size()) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + have;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - have, 1u << 20));
        DWORD got = 0;
        if (!::ReadFile(file, bytes.data() + have, chunk, &got, &at) || got == 0) return std::nullopt;
        have += got;
    }
    return bytes;
}

}  // namespace platform::win32

namespace platform::sys {

std::size_t RootLength(std::string_view path) {
    const bool drive = path.size() >= 2 && path[1] == ':' &&
                       ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
    if (drive) {
        return path.size() >= 3 && path[2] == '/' ? 3 : 2;
    }
    if (path.starts_with("//")) {
        // "//server/share/": the server and the share name the root.
        const std::size_t server = path.find('/', 2);
        if (server == std::string_view::npos) return path.size();
        const std::size_t share = path.find('/', server + 1);
        return share == std::string_view::npos ? path.size() : share + 1;
    }
    return !path.empty() && path.front() == '/' ? 1 : 0;
}

std::string AbsoluteSpelling(const std::string& path) {
    std::wstring wide = win32::Widen(path);
    for (wchar_t& c : wide) {
        if (c == L'/') c = L'\\';
    }
    if (wide.empty()) wide = L".";
    const DWORD size = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (size == 0) return win32::ProgramPath(wide);
    std::vector<wchar_t> full(size + 1);
    const DWORD got = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (got == 0 || got >= full.size()) return win32::ProgramPath(wide);
    return win32::ProgramPath(std::wstring_view(full.data(), got));
}

std::string NativeSpelling(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '/') c = '\\';
    }
    return out;
}

std::string ProgramSpelling(const std::string& path) {
    std::string out = path;
    for (char& c : out) {
        if (c == '\\') c = '/';
    }
    return out;
}

}  // namespace platform::sys
