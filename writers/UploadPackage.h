#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "platform/FileTransaction.h"
#include "platform/FolderTree.h"
#include "platform/OwnerAccess.h"
#include "writers/RunReport.h"

class BundleFiles;
#include "writers/UploadCheck.h"

// One file of an upload package: its name in the archive (UTF-8, "/"
// between folders) and the file it is read from.
struct UploadEntry {
    std::string name;
    std::string path;
    // The file as it was found (size -1: not looked at): the file packed must
    // still be that very file, unchanged.
    platform::FileStamp stamp = {};
};

// Opens an entry's file for reading when the archive needs its bytes.
using OpenUploadEntry = std::function<platform::ReadableFile(const UploadEntry&, std::error_code&)>;

// Why an archive could not be built: the file at fault (empty when none is)
// and the reason.
struct UploadProblem {
    std::string path;
    std::string reason;
};

// Writes the zip archive of `entries` into `out`: entries sorted by name byte
// by byte, every one Deflate-compressed, dated 1980-01-01 00:00, with Unix
// permissions 0644, UTF-8 names and no folder entries, owner or extra time
// fields, so the same files give the same bytes whatever their time stamps,
// owner or the umask. Each file is opened with `open` when the archive
// reaches it and read in pieces, so memory does not grow with a file. Fails
// (with the problem) when a file cannot be read or is not the file it was
// (or changes size while it is read), a name is not UTF-8, two names are
// equal, or a name would be unpacked elsewhere on Windows.
[[nodiscard]] std::error_code WriteUploadPackage(std::vector<UploadEntry> entries, const OpenUploadEntry& open,
                                                 platform::StagedWriter& out, UploadProblem& problem);
// The same archive built in memory; files opened by their path.
std::optional<std::string> BuildUploadPackage(std::vector<UploadEntry> entries, UploadProblem& problem);

// The content of the entry `name` of the zip archive `zip`, read in place;
// nothing when it has none, or it is larger than `limit`.
std::optional<std::string> ReadZipEntry(const platform::ReadableFile& zip, const std::string& name,
                                        std::uint64_t limit);

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
    // The course folder's owner, to whom its package belongs (where the
    // system has owners), and the bits the package may have: readable by no
    // one who could not read every file in it.
    std::optional<platform::FileOwner> owner;
    std::uint32_t packageMode = 0644;
};

// Every regular file below `courseFolder`, named by its path below it; the
// temporary files of an interrupted write are left out. Each file is opened
// through the folders that hold it (a link at its end followed only where it
// stays inside the allowed roots) and must be a regular file; a file the
// course folder's owner could not read is left out and named.
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
    // False: the packages are only gathered, for the check, not zipped.
    bool zip = true;
    // The run's files, when the packages are part of a run: a preview stays
    // one, the run's record keeps what is replaced, and the changes are the run's.
    BundleFiles* run = nullptr;
};

// What the check before an upload judges of one course's package.
struct GatheredPackage {
    std::string courseFolder;
    std::string packageName;  // "dept/fire101.zip", or the folder's path when nothing is zipped
    PackageToCheck package;
    // The identifiers of the zip the package replaces, when there is one.
    std::optional<PackageIdentifiers> earlier;
};

// Writes `<uploadFolder>/<packageName>.zip` for each course (folders made as
// needed, an existing package replaced through the run's safe write), names
// each package written in the run report and notes each one that could not be.
// A package carries at its root the schema files its manifest names (see
// SchemaFilesNamedBy), taken from the installation, unless the course holds
// a file of that name there: the course's copy wins. A named file the
// installation lacks is noted. The package belongs to the course folder's
// owner, with the bits CollectCourseFiles allows it. Returns what each package
// holds (also when only gathered), for the check.
std::vector<GatheredPackage> WriteUploadPackages(const std::vector<CourseToUpload>& courses,
                                                 const UploadOptions& options, RunReport& report);
