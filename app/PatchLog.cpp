#include "app/PatchLog.h"

#include "platform/FileSystem.h"
#include "platform/LockedAppend.h"
#include "writers/Escape.h"

bool AppendPatchLogSection(const std::string& logPath, std::string_view heading, const std::tm& now,
                           const std::string& body, std::string& problem) {
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M", &now);
    std::string section = "\n\n" + std::string(heading) + stamp + ":\n" + body;
    platform::LockedAppend log;
    std::error_code ec = log.Open(logPath, platform::CreateIfMissing::yes);
    if (!ec) {
        // An interrupted append of another run that something follows is left
        // as it is: the section says so.
        for (const std::string& note : log.TakeNotes()) section += EscapeLogName(note) + "\n";
        ec = log.Append(platform::EncodeUtf16LeText(section), "\xFF\xFE");
    }
    if (!ec) return true;
    problem = "The patch log '" + platform::DisplayPath(logPath) + "' could not be written: " + ec.message() + ".";
    return false;
}
