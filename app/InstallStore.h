#pragma once

#include <optional>
#include <string>
#include <system_error>

// What looking up the install folder found. An empty folder with no error is
// "not set"; an error says the store exists but could not be read (it is
// then left untouched) and why.
struct InstallFolderLookup {
    std::string folder;
    std::error_code readError;
    bool Unreadable() const { return static_cast<bool>(readError); }
};

// The text file of NAME=VALUE lines that remembers the install folder
// ("NB Path") and the installation's other settings. Blanks around a name and
// a UTF-8 byte-order mark at the start are ignored; lines starting with "#"
// are comments. The file is written only to normalise a value it holds or to
// add a missing one to a file that was read (or does not exist yet), and every
// other byte of it is kept.
class InstallStore {
public:
    // $QUARVEL_CONFIG when set; else the per-user store when that file exists;
    // else /etc/quarvel.conf.
    static std::string DefaultPath();
    // ${XDG_CONFIG_HOME:-~/.config}/quarvel/quarvel.conf, or empty without a home folder.
    static std::string PerUserStorePath();
    // ${XDG_DATA_HOME:-~/.local/share}/quarvel/install, or empty without a home folder.
    static std::string PerUserInstallPath();

    explicit InstallStore(std::string path) : m_path(std::move(path)) {}

    // The store the programs use: $QUARVEL_CONFIG when set; else the
    // system's registry where it has one (Windows); else DefaultPath().
    static InstallStore ForPrograms();
    // The values under the system's registry key instead of a file: the
    // install folder is the value "NB Path", spelled with backslashes there.
    static InstallStore Registry();

    // The store file, or the registry key.
    const std::string& Path() const { return m_path; }
    bool InRegistry() const { return m_registry; }
    // How the user sets the install folder in this store, as a sentence without its full stop.
    std::string SettingHint() const;

    // The value of NAME, or nothing when the file or the line is missing or
    // the file cannot be read.
    std::optional<std::string> Read(const std::string& name) const;
    // Sets NAME (replacing its first line, or adding one) and keeps every
    // other byte. Refuses, leaving the file as it was, when the file exists
    // but cannot be read.
    [[nodiscard]] std::error_code Write(const std::string& name, const std::string& value) const;

    // The install folder without one trailing "/": a value ending in "/" (or
    // a missing one) is shortened (or added empty) and written back.
    InstallFolderLookup LookUpInstallFolder() const;
    std::string GetInstallFolder() const { return LookUpInstallFolder().folder; }

    // The message that tells why the store could not be read.
    std::string UnreadableMessage(std::error_code readError) const;

private:
    std::string m_path;
    bool m_registry = false;
};

// Whether a run can write what it writes in the install folder: a new file
// in it, the patch log (not read-only) and the "vod packages" folder when
// they exist.
bool CanWriteInstallFolder(const std::string& folder);

// Makes a per-user install folder `to` from the installation `from`: the
// template folder "web", "buttons png", "schemas", the catalogues and the
// spreadsheet export are copied (files `to` holds already are kept, so a
// second call completes an interrupted one), and an empty "vod packages" is
// created.
[[nodiscard]] std::error_code MakePerUserInstall(const std::string& from, const std::string& to);

// Records `folder` as the install folder in the store file `store`, creating
// it and its folders when missing. A new store starts as a copy of `seed`
// (for a per-user store, the store that named the shared installation), so its
// other settings carry over.
[[nodiscard]] std::error_code RecordInstallFolder(const std::string& store, const std::string& folder,
                                                  const InstallStore& seed = InstallStore(""));
