#pragma once

#include <optional>
#include <string>

// The text file of NAME=VALUE lines that remembers the install folder
// ("NB Path") and the installation's other settings.
class InstallStore {
public:
    // $QUARVEL_CONFIG when set, else /etc/quarvel.conf.
    static std::string DefaultPath();

    explicit InstallStore(std::string path) : m_path(std::move(path)) {}

    const std::string& Path() const { return m_path; }

    // The value of NAME, or nothing when the file or the line is missing.
    std::optional<std::string> Read(const std::string& name) const;
    // Sets NAME (replacing its line, or adding one) and keeps every other line.
    // Returns false when the store could not be written; it is then unchanged.
    bool Write(const std::string& name, const std::string& value) const;

    // The install folder without one trailing "/": a value ending in "/" (or
    // a missing or empty one) is shortened and written back as the rules say.
    std::string GetInstallFolder() const;

private:
    std::string m_path;
};
