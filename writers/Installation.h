#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/FileSystem.h"

// What the writers take from the installation: its folders, the host of the
// xAPI activity identifiers, the dates of its program and player script, and
// its templates, each read once per run and reused while its file stays the same.
class Installation {
public:
    Installation(std::string folder, std::string xapiHost)
        : m_folder(std::move(folder)), m_xapiHost(std::move(xapiHost)) {}

    const std::string& Folder() const { return m_folder; }
    std::string Web() const { return m_folder + "/web"; }
    const std::string& XapiHost() const { return m_xapiHost; }

    // The last-write dates (local time) the course version and the manifest
    // identifiers carry; nothing when the file is missing.
    std::optional<platform::LocalDate> ProgramDate() const;
    std::optional<platform::LocalDate> PlayerScriptDate() const;

    // The lines of the template at `path` as the template copy reads them,
    // read again only when its stamp changed; nothing when it cannot be read.
    // Valid until the next call.
    const std::vector<std::string>* TemplateLines(const std::string& path);

private:
    struct CachedTemplate {
        platform::FileStamp stamp;
        std::vector<std::string> lines;
    };

    std::string m_folder;
    std::string m_xapiHost;
    std::unordered_map<std::string, CachedTemplate> m_templates;
};
