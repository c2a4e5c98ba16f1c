#include "app/InstallStore.h"

#include <cstdlib>
#include <set>
#include <string_view>
#include <tuple>

#include "platform/FileSystem.h"
#include "platform/InstallRegistry.h"
#include "platform/Text.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
const std::string kInstallFolderName = "NB Path";

// The store file as read: its bytes, or why it could not be read. A missing
// file is no error: it reads as empty and may be created.
struct StoreContent {
    std::string bytes;
    bool exists = false;
    std::error_code error;
};

StoreContent ReadStoreFile(const std::string& path) {
    StoreContent content;
    std::error_code ec;
    if (auto bytes = platform::ReadFileBytes(path, ec)) {
        content.bytes = std::move(*bytes);
        content.exists = true;
    } else if (ec != std::errc::no_such_file_or_directory) {
        content.exists = true;
        content.error = ec;
    }
    return content;
}

// Where the value of a NAME=VALUE line lies in the file's bytes.
struct ValueSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::size_t ByteOrderMarkSize(std::string_view bytes) {
    return bytes.substr(0, kByteOrderMark.size()) == kByteOrderMark ? kByteOrderMark.size() : 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

// The value of the first line named `name`: blanks around the name and
// before the value do not count, nor a CR before the line end.
std::optional<ValueSpan> FindValue(std::string_view bytes, std::string_view name) {
    std::size_t pos = ByteOrderMarkSize(bytes);
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string_view::npos) end = bytes.size();
        const std::string_view line = bytes.substr(pos, end - pos);
        const std::size_t eq = line.find('=');
        const std::string_view lineName = platform::TrimAsciiSpace(line.substr(0, std::min(eq, line.size())));
        if (eq != std::string_view::npos && lineName == name) {
            ValueSpan span{pos + eq + 1, end};
            while (span.begin < span.end && IsBlank(bytes[span.begin])) ++span.begin;
            if (span.end > span.begin && bytes[span.end - 1] == '\r') --span.end;
            return span;
        }
        pos = end + 1;
    }
    return std::nullopt;
}

// Sets NAME in the content read and writes it back, only when that changes a byte.
std::error_code WriteValue(const std::string& path, const StoreContent& content, const std::string& name,
                           const std::string& value) {
    if (content.error) return content.error;
    // A line end in a value would make other lines of it, and a CR at its end
    // would read as part of the line end: such a value cannot be stored.
    if (value.find('\n') != std::string::npos || (!value.empty() && value.back() == '\r')) {
        return std::make_error_code(std::errc::invalid_argument);
    }
    std::string bytes = content.bytes;
    if (const auto span = FindValue(bytes, name)) {
        bytes.replace(span->begin, span->end - span->begin, value);
    } else {
        const bool crlf = platform::Contains(bytes, "\r\n");
        // A last line without its line end gets one; after a lone CR only the
        // LF is missing, and a second CR would become part of that line's value.
        if (bytes.size() > ByteOrderMarkSize(bytes) && bytes.back() != '\n') {
            bytes += bytes.back() == '\r' || !crlf ? "\n" : "\r\n";
        }
        bytes += name + "=" + value + (crlf ? "\r\n" : "\n");
    }
    if (content.exists && bytes == content.bytes) return {};
    return platform::ReplaceFileSafely(path, bytes);
}

// An XDG base folder: the variable when it holds an absolute path, else the
// fallback below the home folder; empty without either.
std::string XdgFolder(const char* variable, std::string_view belowHome) {
    const char* set = std::getenv(variable);
    if (set != nullptr && set[0] == '/') return platform::AbsolutePath(set);
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') return {};
    return platform::JoinPath(platform::AbsolutePath(home), belowHome);
}

// Creates `path` and every missing folder above it.
std::error_code CreateFolders(const std::string& path) {
    if (path.empty() || platform::IsDirectory(path)) return {};
    if (const std::error_code ec = CreateFolders(platform::ParentPath(path))) return ec;
    const std::error_code ec = platform::CreateFolder(path);
    if (!ec || platform::IsDirectory(path)) return {};
    // A file in the way: say so, rather than "File exists".
    return ec == std::errc::file_exists ? std::make_error_code(std::errc::not_a_directory) : ec;
}

std::error_code CopyIfMissing(const std::string& from, const std::string& to) {
    // Only regular files: a device or FIFO in the installation is left out.
    if (!platform::IsRegularFile(from) || platform::FindFirst(to)) return {};
    return platform::CopyFileOver(from, to);
}

std::error_code CopyFolderIfMissing(const std::string& from, const std::string& to,
                                    std::set<platform::FolderIdentity>& entered) {
    const auto identity = platform::IdentifyFolder(from);
    if (!identity || !entered.insert(*identity).second) return {};  // a link loop
    if (const std::error_code ec = CreateFolders(to)) return ec;
    for (const platform::DirEntry& entry : platform::FindEntries(from, "*")) {
        const std::string source = platform::JoinPath(from, entry.name);
        const std::string target = platform::JoinPath(to, entry.name);
        const std::error_code ec =
            entry.isDirectory ? CopyFolderIfMissing(source, target, entered) : CopyIfMissing(source, target);
        if (ec) return ec;
    }
    return {};
}

}  // namespace

std::string InstallStore::PerUserStorePath() {
    const std::string config = XdgFolder("XDG_CONFIG_HOME", ".config");
    return config.empty() ? config : platform::JoinPath(config, "quarvel/quarvel.conf");
}

std::string InstallStore::PerUserInstallPath() {
    const std::string data = XdgFolder("XDG_DATA_HOME", ".local/share");
    return data.empty() ? data : platform::JoinPath(data, "quarvel/install");
}

std::string InstallStore::DefaultPath() {
    const char* configured = std::getenv("QUARVEL_CONFIG");
    if (configured != nullptr && *configured != '\0') return configured;
    const std::string perUser = PerUserStorePath();
    if (!perUser.empty() && platform::FindFirst(perUser)) return perUser;
    return "/etc/quarvel.conf";
}

InstallStore InstallStore::ForPrograms() {
    const char* configured = std::getenv("QUARVEL_CONFIG");
    if ((configured == nullptr || *configured == '\0') && platform::HasInstallRegistry()) return Registry();
    return InstallStore(DefaultPath());
}

InstallStore InstallStore::Registry() {
    InstallStore store(platform::InstallRegistryKeyName());
    store.m_registry = true;
    return store;
}

std::string InstallStore::SettingHint() const {
    if (m_registry) return "Set the value 'NB Path' under '" + m_path + "' to FOLDER";
    return "Add the line 'NB Path=FOLDER' to '" + platform::DisplayPath(m_path) + "'";
}

std::optional<std::string> InstallStore::Read(const std::string& name) const {
    if (m_registry) return platform::ReadInstallRegistryValue(name);
    const StoreContent content = ReadStoreFile(m_path);
    const auto span = FindValue(content.bytes, name);
    if (!span) return std::nullopt;
    return content.bytes.substr(span->begin, span->end - span->begin);
}

std::error_code InstallStore::Write(const std::string& name, const std::string& value) const {
    if (m_registry) return platform::WriteInstallRegistryValue(name, value);
    return WriteValue(m_path, ReadStoreFile(m_path), name, value);
}

InstallFolderLookup InstallStore::LookUpInstallFolder() const {
    if (m_registry) {
        // The registry's rules: one trailing backslash is removed and the
        // value written back without it (one more removed from what is
        // stored); a missing value reads as empty and is stored empty.
        std::string folder = platform::ReadInstallRegistryValue(kInstallFolderName).value_or(std::string());
        if (folder.empty() || folder.back() == '\\') {
            if (!folder.empty()) folder.pop_back();
            std::string stored = folder;
            if (!stored.empty() && stored.back() == '\\') stored.pop_back();
            // A registry that cannot be written keeps its value; the run goes on with the result.
            std::ignore = platform::WriteInstallRegistryValue(kInstallFolderName, stored);
        }
        return {platform::PathFromDisplay(folder), {}};
    }
    const StoreContent content = ReadStoreFile(m_path);
    if (content.error) return {{}, content.error};
    std::string folder;
    if (const auto span = FindValue(content.bytes, kInstallFolderName)) {
        folder = content.bytes.substr(span->begin, span->end - span->begin);
    }
    if (folder.empty() || folder.back() == '/') {
        if (!folder.empty()) folder.pop_back();
        std::string stored = folder;
        if (!stored.empty() && stored.back() == '/') stored.pop_back();
        // A store that cannot be written keeps its value; the run goes on with the result.
        std::ignore = WriteValue(m_path, content, kInstallFolderName, stored);
    }
    return {folder, {}};
}

std::string InstallStore::UnreadableMessage(std::error_code readError) const {
    return "The install folder store '" + platform::DisplayPath(m_path) + "' cannot be read: " + readError.message() +
           ". It was left unchanged; make it readable, or name another store in QUARVEL_CONFIG.";
}

bool CanWriteInstallFolder(const std::string& folder) {
    if (!platform::IsDirectory(folder) || !platform::CanCreateFileIn(folder)) return false;
    const std::string log = platform::JoinPath(folder, "nb_logfile.txt");
    // The log is replaced through the folder, as every file is; what stops
    // that is its read-only attribute.
    if (platform::FindFirst(log) && platform::IsReadOnly(log)) return false;
    const std::string packages = platform::JoinPath(folder, "vod packages");
    return !platform::IsDirectory(packages) || platform::CanCreateFileIn(packages);
}

std::error_code MakePerUserInstall(const std::string& from, const std::string& to) {
    const std::string source = platform::AbsolutePath(from);
    const std::string target = platform::AbsolutePath(to);
    // Copying a folder into itself would never end.
    if (target == source || target.starts_with(source + "/")) return std::make_error_code(std::errc::invalid_argument);
    if (!platform::IsDirectory(source)) return std::make_error_code(std::errc::not_a_directory);
    if (const std::error_code ec = CreateFolders(target)) return ec;
    for (const char* file : {"HTML course descriptions.txt", "VOD info.txt", "spreadsheet.txt"}) {
        if (const std::error_code ec =
                CopyIfMissing(platform::JoinPath(source, file), platform::JoinPath(target, file)))
            return ec;
    }
    std::set<platform::FolderIdentity> entered;
    // The schemas too: without them every run with validatePackages=true would end with 3.
    for (const char* folder : {"web", "buttons png", "schemas"}) {
        const std::string sourceFolder = platform::JoinPath(source, folder);
        if (!platform::IsDirectory(sourceFolder)) continue;
        if (const std::error_code ec = CopyFolderIfMissing(sourceFolder, platform::JoinPath(target, folder), entered))
            return ec;
    }
    return CreateFolders(platform::JoinPath(target, "vod packages"));
}

std::error_code RecordInstallFolder(const std::string& store, const std::string& folder, const InstallStore& seed) {
    StoreContent content = ReadStoreFile(store);
    if (!content.exists) {
        if (!seed.Path().empty()) {
            const StoreContent shared = ReadStoreFile(seed.Path());
            if (!shared.error) content.bytes = shared.bytes;
        }
        if (const std::error_code ec = CreateFolders(platform::ParentPath(store))) return ec;
    }
    return WriteValue(store, content, kInstallFolderName, folder);
}
