#include "writers/CopyTemplate.h"

#include <tuple>

#include "platform/FileSystem.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"
#include "writers/TemplateText.h"

void CopyTemplate(BundleFiles& files, Installation& install, const std::string& templatePath,
                  const std::string& outputPath, const std::vector<TemplateRule>& rules, ReadOnly clearReadOnly) {
    if (clearReadOnly == ReadOnly::clear) files.MakeWritable(outputPath);
    const std::vector<std::string>* lines = install.TemplateLines(templatePath);
    if (lines == nullptr) {
        // No template: the bundle's file stays as it was. One that is there
        // but cannot be read leaves the bundle without its new file: name it.
        std::error_code ec;
        if (platform::FindFirst(templatePath) && !platform::ReadFileBytes(templatePath, ec)) {
            files.NoteFailure("write '" + EscapeLogPath(outputPath) + "' from", templatePath, ec);
        }
        return;
    }
    std::ignore = WriteNormalisedFile(files, outputPath, FinishedTextBytes(FillTemplate(*lines, rules)));
}
