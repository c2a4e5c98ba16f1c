#include "app/PrepareVodPackageFolders.h"

#include <tuple>

#include "bundle/SettingsFile.h"
#include "platform/FileSystem.h"

void PrepareVodPackageFolders(BundleFiles& files, const std::string& startFolder) {
    for (const platform::DirEntry& entry : platform::FindEntries(startFolder, "*.*")) {
        if (!entry.isDirectory) continue;
        const std::string xmlFolder = platform::JoinPath(startFolder, entry.name) + "/xml";
        const std::string settingsFile = xmlFolder + "/interface.xml";
        if (files.Exists(settingsFile)) continue;
        std::ignore = files.EnsureFolder(xmlFolder);
        std::ignore = files.Write(settingsFile, MinimalInterfaceFile(false));
    }
}
