#include "platform/InstallRegistry.h"

namespace platform {

bool HasInstallRegistry() {
    return false;
}

std::string InstallRegistryKeyName() {
    return {};
}

std::optional<std::string> ReadInstallRegistryValue(const std::string&) {
    return std::nullopt;
}

std::error_code WriteInstallRegistryValue(const std::string&, const std::string&) {
    return std::make_error_code(std::errc::not_supported);
}

}  // namespace platform
