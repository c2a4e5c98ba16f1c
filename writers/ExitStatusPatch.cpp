#include "writers/ExitStatusPatch.h"

#include "writers/CopyTemplate.h"

std::string ExitStatusSnippet(ExitStatusMode mode) {
    if (mode == ExitStatusMode::CompletedIncomplete) {
        return "\t\t\t\tif (args == 'passed')\n\t\t\t\t\targs = 'completed';\n"
               "\t\t\t\telse if (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n";
    }
    if (mode == ExitStatusMode::PassedIncomplete)
        return "\t\t\t\tif (args == 'failed')\n\t\t\t\t\targs = 'incomplete';\n\n";
    return "\t\t\t\tif (args == 'completed')\n\t\t\t\t\targs = 'passed';\n\n";
}

void PatchExitStatus(BundleFiles& files, Installation& install, const std::string& scriptsFolder, ExitStatusMode mode) {
    // The read-only attribute stays: a read-only script is refused and noted.
    CopyTemplate(files, install, install.Web() + "/scripts/communication.js", scriptsFolder + "/communication.js",
                 {{"LMS_SetLessonStatus", ExitStatusSnippet(mode), true}}, ReadOnly::keep);
}
