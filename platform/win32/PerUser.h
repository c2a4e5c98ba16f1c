#pragma once

#include <string>
#include <system_error>

// Where a user's own installation lives on Windows: its folder below the
// user's local application data, recorded as "NB Path" under the user's own
// key HKEY_CURRENT_USER\Software\Nimbrel, which the programs read before the
// machine's key. Windows only.
namespace platform {

// %LOCALAPPDATA% in the program's spelling; empty when it is not set.
std::string LocalAppDataFolder();

// The user's own key, as the user knows it, for messages.
std::string UserInstallRegistryKeyName();

// Stores `value` as `name` (REG_SZ) under the user's own key, creating it
// when missing.
[[nodiscard]] std::error_code WriteUserInstallRegistryValue(const std::string& name, const std::string& value);

}  // namespace platform
