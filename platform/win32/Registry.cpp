#include <cstdlib>
#include <vector>

#include "platform/InstallRegistry.h"
#include "platform/win32/PerUser.h"
#include "platform/win32/Win32.h"

namespace platform {
namespace {

constexpr const wchar_t* kKey = L"Software\\Nimbrel";

std::optional<std::string> ReadValue(HKEY root, const std::string& name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, kKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return std::nullopt;
    const std::wstring valueName = win32::Widen(name);
    // A value of any length is read whole: the size is asked first, and again
    // if the value grew in between.
    std::vector<wchar_t> buffer;
    LONG status = ERROR_MORE_DATA;
    DWORD size = 0;
    for (int attempt = 0; attempt < 4 && status == ERROR_MORE_DATA; ++attempt) {
        size = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        status = ::RegQueryValueExW(key, valueName.c_str(), nullptr, nullptr,
                                    buffer.empty() ? nullptr : reinterpret_cast<BYTE*>(buffer.data()), &size);
        if (status == ERROR_SUCCESS && buffer.empty() && size > 0) status = ERROR_MORE_DATA;
        if (status == ERROR_MORE_DATA) buffer.assign(size / sizeof(wchar_t) + 1, L'\0');
    }
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS) return std::nullopt;
    std::wstring_view text(buffer.data(), std::min<std::size_t>(size / sizeof(wchar_t), buffer.size()));
    // The value's type is not examined: the text ends at its first zero.
    if (const std::size_t zero = text.find(L'\0'); zero != std::wstring_view::npos) text = text.substr(0, zero);
    return win32::Narrow(text);
}

std::error_code WriteValue(HKEY root, const std::string& name, const std::string& value) {
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExW(root, kKey, 0, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) status = ::RegCreateKeyW(root, kKey, &key);
    if (status != ERROR_SUCCESS) return win32::ErrorCode(static_cast<DWORD>(status));
    const std::wstring valueName = win32::Widen(name);
    const std::wstring text = win32::Widen(value);
    status = ::RegSetValueExW(key, valueName.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                              static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
    return status == ERROR_SUCCESS ? std::error_code{} : win32::ErrorCode(static_cast<DWORD>(status));
}

// The user's own value, when it holds one: an empty one would hide the
// machine's installation.
std::optional<std::string> ReadUserValue(const std::string& name) {
    std::optional<std::string> value = ReadValue(HKEY_CURRENT_USER, name);
    if (value && value->empty()) return std::nullopt;
    return value;
}

}  // namespace

bool HasInstallRegistry() {
    return true;
}

std::string InstallRegistryKeyName() {
    return "HKEY_LOCAL_MACHINE\\Software\\Nimbrel";
}

// Each value is the user's own when the user's key holds it (a per-user
// install is recorded there), else the machine's.
std::optional<std::string> ReadInstallRegistryValue(const std::string& name) {
    if (std::optional<std::string> own = ReadUserValue(name)) return own;
    return ReadValue(HKEY_LOCAL_MACHINE, name);
}

// Written back where it was read from.
std::error_code WriteInstallRegistryValue(const std::string& name, const std::string& value) {
    return WriteValue(ReadUserValue(name) ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, name, value);
}

std::string UserInstallRegistryKeyName() {
    return "HKEY_CURRENT_USER\\Software\\Nimbrel";
}

std::error_code WriteUserInstallRegistryValue(const std::string& name, const std::string& value) {
    return WriteValue(HKEY_CURRENT_USER, name, value);
}

std::string LocalAppDataFolder() {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (local == nullptr || *local == L'\0') return {};
    return win32::ProgramPath(local);
}

}  // namespace platform
