#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>

// Pieces shared by the Windows sources of platform/. Internal to platform/.
namespace platform::win32 {

// UTF-8 to UTF-16 and back (ill-formed input becomes U+FFFD).
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);

// The program's "/" path as the file API takes it: backslashes, and the
// "\\?\" prefix on an absolute path long enough to need it.
std::wstring SystemPath(const std::string& path);
// A path the system gave back ("\\?\" prefix, backslashes) in the program's spelling.
std::string ProgramPath(std::wstring_view path);

// A system error number as an error code; the usual ones as their portable
// conditions, so that callers compare them and messages read as on Linux.
std::error_code ErrorCode(DWORD error);
std::error_code LastError();

// Owns one open handle and closes it when it goes; move-only.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle) noexcept : m_handle(handle) {}
    Handle(Handle&& other) noexcept : m_handle(other.Release()) {}
    Handle& operator=(Handle&& other) noexcept {
        if (this != &other) Reset(other.Release());
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { Reset(); }

    HANDLE Get() const noexcept { return m_handle; }
    HANDLE Release() noexcept { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }
    void Reset(HANDLE handle = INVALID_HANDLE_VALUE) noexcept {
        if (m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr) ::CloseHandle(m_handle);
        m_handle = handle;
    }
    explicit operator bool() const noexcept { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }

private:
    HANDLE m_handle = INVALID_HANDLE_VALUE;
};

// Opens `path` (following links) with `access`, sharing it with everyone;
// folders too when `folders` is set.
Handle Open(const std::string& path, DWORD access, bool folders = false);

// The attributes of `path` itself, or nothing when it is missing.
std::optional<DWORD> Attributes(const std::string& path);

// Identity and times of an open file.
std::optional<BY_HANDLE_FILE_INFORMATION> Information(HANDLE file);
inline std::uint64_t Join(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}
inline std::uint64_t Ticks(const FILETIME& time) {
    return Join(time.dwHighDateTime, time.dwLowDateTime);
}

// Writes all of `bytes` at the file's current position.
[[nodiscard]] std::error_code WriteAll(HANDLE file, std::string_view bytes);
// Reads `length` bytes from `offset`; nothing when they cannot all be read.
std::optional<std::string> ReadAt(HANDLE file, std::uint64_t offset, std::uint64_t length);

}  // namespace platform::win32
