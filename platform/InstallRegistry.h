#pragma once

#include <optional>
#include <string>
#include <system_error>

// The system's own store of the installation's settings: on Windows the
// registry key HKEY_LOCAL_MACHINE\Software\Nimbrel, whose value "NB Path"
// names the install folder. Linux has none; a store file takes its place.
namespace platform {

bool HasInstallRegistry();

// The key as the user knows it, for messages.
std::string InstallRegistryKeyName();

// The value `name` under the key as text (the value's type not examined);
// nothing when the key or the value is missing or cannot be read.
std::optional<std::string> ReadInstallRegistryValue(const std::string& name);

// Stores `value` as `name` (REG_SZ, its size counting the terminating zero):
// the key is opened for setting values, or created when that fails.
[[nodiscard]] std::error_code WriteInstallRegistryValue(const std::string& name, const std::string& value);

}  // namespace platform
