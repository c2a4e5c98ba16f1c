#include "writers/Installation.h"

#include "writers/TemplateText.h"

std::optional<platform::LocalDate> Installation::ProgramDate() const {
    return platform::LastWriteLocalDate(Web() + "/quarvel.exe");
}

std::optional<platform::LocalDate> Installation::PlayerScriptDate() const {
    return platform::LastWriteLocalDate(Web() + "/scripts/NimbrelWebPlayer.js");
}

const std::vector<std::string>* Installation::TemplateLines(const std::string& path) {
    const auto before = platform::ReadableFileStamp(path);
    if (!before) {
        m_templates.erase(path);
        return nullptr;
    }
    if (const auto found = m_templates.find(path); found != m_templates.end() && found->second.stamp == *before) {
        return &found->second.lines;
    }
    const auto bytes = platform::ReadFileBytes(path);
    if (!bytes) {
        m_templates.erase(path);
        return nullptr;
    }
    CachedTemplate& entry = m_templates[path];
    entry.lines = SplitTemplateLines(*bytes);
    // A file that changed while it was read is used once but not trusted later.
    const auto after = platform::ReadableFileStamp(path);
    entry.stamp = (after && *after == *before) ? *before : platform::FileStamp{};
    return &entry.lines;
}
