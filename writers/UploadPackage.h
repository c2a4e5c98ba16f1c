#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "writers/RunReport.h"

// One file of an upload package: its name in the archive (UTF-8, "/"
// between folders) and the file it is read from.
struct UploadEntry {
    std::string name;
    std::string path;
};

// Why an archive could not be built: the file at fault (empty when none is)
// and the reason.
struct UploadProblem {
    std::string path;
    std::string reason;
};

// The zip archive of `entries`, built in memory: entries sorted by name byte
// by byte, every one Deflate-compressed, dated 1980-01-01 00:00, with Unix
// permissions 0644, UTF-8 names and no folder entries, owner or extra time
// fields, so the same files give the same bytes whatever their time stamps,
// owner or the umask. Files are read through the platform layer one at a
// time while the archive is written. Nothing when a file cannot be read (or
// changes size while it is read), a name is not UTF-8 or two names are equal.
std::optional<std::string> BuildUploadPackage(std::vector<UploadEntry> entries, UploadProblem& problem);

// What goes into the package of one course folder, and what is left out.
struct UploadRules {
    // The folders a link in the course folder may lead into (the starting
    // folder); a file reached through a link that leads elsewhere is left out.
    std::vector<std::string> allowedRoots;
    // A file name (any letter case) left out wherever it is: the course BMP
    // the run was asked to delete. Empty: none.
    std::string leftOutFileName;
    // Folders whose files are not part of this course: the course bundles
    // below it that get packages of their own, and the upload folder.
    std::vector<std::string> leftOutFolders;
};

struct CourseFiles {
    std::vector<UploadEntry> entries;
    std::vector<std::string> notes;  // each ends with a line feed
};

// Every regular file below `courseFolder`, named by its path below it; the
// temporary files of an interrupted write are left out.
CourseFiles CollectCourseFiles(const std::string& courseFolder, const UploadRules& rules);

// A patched course folder and the name of its package below the upload folder (without ".zip").
struct CourseToUpload {
    std::string courseFolder;
    std::string packageName;
    std::string courseID;
};

// The package name of `courseFolder`: its path below `base`, or its own
// name when it is `base` itself.
std::string UploadPackageName(const std::string& courseFolder, const std::string& base);

struct UploadOptions {
    std::string uploadFolder;  // <install folder>/upload packages
    std::vector<std::string> allowedRoots;
    bool leaveOutCourseBmp = false;
    // The installation's schemas; empty: the "schemas" folder beside the upload folder.
    std::string schemaFolder = {};
};

// Writes `<uploadFolder>/<packageName>.zip` for each course (folders made as
// needed, an existing package replaced through the run's safe write), names
// each package written in the run report and notes each one that could not be.
// A package carries at its root the schema files its manifest names (see
// SchemaFilesNamedBy), taken from the installation, unless the course holds
// a file of that name there: the course's copy wins. A named file the
// installation lacks is noted.
void WriteUploadPackages(const std::vector<CourseToUpload>& courses, const UploadOptions& options, RunReport& report);
