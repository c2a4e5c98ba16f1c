#include <tuple>

#include "app/QuarvelRun.h"
#include "platform/FileSystem.h"
#include "writers/NormaliseTextFile.h"
#include "writers/TemplateCache.h"
#include "writers/TemplateText.h"

const std::vector<std::string>* QuarvelRun::TemplateCache::Lines(const std::string& path) {
    const auto before = platform::ReadableFileStamp(path);
    if (!before) {
        entries.erase(path);
        return nullptr;
    }
    if (const auto found = entries.find(path); found != entries.end() && found->second.stamp == *before) {
        return &found->second.lines;
    }
    const auto bytes = platform::ReadFileBytes(path);
    if (!bytes) {
        entries.erase(path);
        return nullptr;
    }
    Entry& entry = entries[path];
    entry.lines = SplitTemplateLines(*bytes);
    // A file that changed while it was read is used once but not trusted later.
    const auto after = platform::ReadableFileStamp(path);
    entry.stamp = (after && *after == *before) ? *before : platform::FileStamp{};
    return &entry.lines;
}

void QuarvelRun::CopyTemplate(const std::string& templatePath, const std::string& outputPath,
                              const std::vector<TemplateRule>& rules, ReadOnly clearReadOnly) {
    if (clearReadOnly == ReadOnly::clear && platform::IsRegularFile(outputPath)) {
        std::ignore = platform::ClearReadOnly(outputPath);
    }
    const std::vector<std::string>* lines = m_templateCache->Lines(templatePath);
    if (lines == nullptr) {
        // No template: the bundle's file stays as it was. One that is there
        // but cannot be read leaves the bundle without its file: say so.
        std::error_code ec;
        if (platform::FindFirst(templatePath) && !platform::ReadFileBytes(templatePath, ec)) {
            NoteFileFailure("write", outputPath, ec);
        }
        return;
    }
    WriteBundleFile(outputPath, FinishedTextBytes(FillTemplate(*lines, rules)));
}
