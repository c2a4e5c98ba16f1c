#include "app/InstallStore.h"

#include <cstdlib>
#include <string_view>

#include "platform/FileSystem.h"
#include "platform/Text.h"

namespace {

// The name part of a NAME=VALUE line, or nothing for other lines.
std::optional<std::string_view> LineName(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return platform::TrimAsciiSpace(line.substr(0, eq));
}

std::string_view WithoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

std::string InstallStore::DefaultPath() {
    const char* configured = std::getenv("QUARVEL_CONFIG");
    return (configured != nullptr && *configured != '\0') ? configured : "/etc/quarvel.conf";
}

std::optional<std::string> InstallStore::Read(const std::string& name) const {
    const auto bytes = platform::ReadFileBytes(m_path);
    if (!bytes) return std::nullopt;
    std::string_view rest(*bytes);
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        const std::string_view line = WithoutCr(rest.substr(0, lf));
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (line.empty() || line.front() == '#') continue;
        const auto lineName = LineName(line);
        if (lineName && *lineName == name) return std::string(line.substr(line.find('=') + 1));
    }
    return std::nullopt;
}

bool InstallStore::Write(const std::string& name, const std::string& value) const {
    std::string content = platform::ReadFileBytes(m_path).value_or(std::string());
    std::string out;
    bool replaced = false;
    std::string_view rest(content);
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        const std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        const auto lineName = LineName(WithoutCr(line));
        if (!replaced && lineName && *lineName == name && line.front() != '#') {
            out += name + "=" + value + "\n";
            replaced = true;
        } else {
            out.append(line);
            out.push_back('\n');
        }
    }
    if (!replaced) out += name + "=" + value + "\n";
    return !platform::ReplaceFileSafely(m_path, out);
}

std::string InstallStore::GetInstallFolder() const {
    std::string folder = Read("NB Path").value_or(std::string());
    if (folder.empty() || folder.back() == '/') {
        if (!folder.empty()) folder.pop_back();
        std::string stored = folder;
        if (!stored.empty() && stored.back() == '/') stored.pop_back();
        Write("NB Path", stored);
    }
    return folder;
}
