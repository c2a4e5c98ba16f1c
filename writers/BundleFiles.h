#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <system_error>

#include "writers/RunReport.h"

// Every file a run writes, copies or deletes in a course bundle (or a VOD
// package) goes through here, so that each failure is noted in the run report
// with its reason, and so that the writes of a bundle can be put in place
// together. Reads of a file written earlier in the run see its new content.
class BundleFiles {
public:
    explicit BundleFiles(RunReport& report) : m_report(report) {}
    BundleFiles(const BundleFiles&) = delete;
    BundleFiles& operator=(const BundleFiles&) = delete;

    // Replaces (or creates) `path` with `bytes`; a failure is noted.
    [[nodiscard]] bool Write(const std::string& path, std::string_view bytes);
    // The overwriting copy; a failure is noted unless the source is missing
    // (a template the installation lacks is skipped without a word).
    [[nodiscard]] bool Copy(const std::string& source, const std::string& destination);
    // Deletes a file; a missing file is no failure; other failures are noted.
    [[nodiscard]] bool Delete(const std::string& path);
    // Creates the folder when a find-first query does not find it; a folder
    // that cannot be created is noted with its own reason.
    [[nodiscard]] bool EnsureFolder(const std::string& path);

    // Clears the read-only attribute of an existing file before it is
    // regenerated; a file that is not there is no failure.
    void MakeWritable(const std::string& path);

    // The whole content of a file, as the run has left it so far.
    std::optional<std::string> Read(const std::string& path, std::error_code& ec);
    // A find-first query on the path, as the run has left it so far.
    bool Exists(const std::string& path);

    // Notes that `action` ("write", "copy to", "delete", "read", "create") failed on `path`.
    void NoteFailure(const std::string& action, const std::string& path, std::error_code ec);

private:
    RunReport& m_report;
};
