#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The identifiers an LMS keeps a course and its learners' records by, in
// document order: those of a manifest, or the activity ids of tincan.xml.
struct PackageIdentifiers {
    std::vector<std::string> manifest;
    std::vector<std::string> organizations;
    std::vector<std::string> items;
    std::vector<std::string> resources;
    std::vector<std::string> activities;
    bool operator==(const PackageIdentifiers&) const = default;
};

// A reference from a manifest or activity file to a file of its package.
struct PackageHref {
    std::string what;   // "the manifest's href", "the manifest's file href", "tincan.xml's launch"
    std::string value;  // as written, after the xml:base values that stand above it
};

// What the check reads from a manifest or activity file.
struct PackageFileFacts {
    PackageIdentifiers identifiers;
    std::vector<PackageHref> hrefs;
};

// The facts of a manifest or activity file; nothing when it is not
// well-formed XML. Nothing outside `bytes` is loaded.
std::optional<PackageFileFacts> ReadPackageFile(std::string_view bytes);

// One finding of the check before an upload.
struct UploadFinding {
    enum class Severity {
        problem,  // an LMS would refuse the package, or it would break there
        warning,  // some LMSs do not cope, or the learners' records will not carry over
    };
    Severity severity = Severity::problem;
    std::string rule;    // "schema", "missing file", "href", "identifier", "name", "size", "identifier change"
    std::string detail;  // one line, without a full stop
};

// What a package holds, as the check judges it.
struct PackageToCheck {
    std::vector<std::string> names;         // every file's name in it, "/" between folders
    std::optional<std::string> manifest;    // imsmanifest.xml at its root
    std::optional<std::string> activities;  // tincan.xml at its root
    std::uint64_t bytes = 0;                // the zip's size, or its files' when it is not zipped
    int sizeLimitMB = 0;                    // 0 or less: none
};

// Names an unzip on Windows would place outside the folder it unpacks into,
// or elsewhere than the name says: a backslash, a drive letter, a leading
// "/", a ".." component. Empty when the name is safe, else why it is not.
std::string WhyUnsafeEntryName(std::string_view name);

// Every finding of the package: hrefs that name no file (letter case
// counts, as on an LMS's server) or are not relative paths inside it,
// identifiers that are not valid or unique xs:ID values, names that some LMSs
// mangle, a size over the limit.
std::vector<UploadFinding> CheckPackage(const PackageToCheck& package);

// Identifiers a package had before, and where they come from ("the manifest it replaces").
struct EarlierIdentifiers {
    PackageIdentifiers identifiers;
    std::string since;
};

// A warning for each identifier of the earlier ones that `now` changes; a
// change two of them show is named once, against the first.
std::vector<UploadFinding> CompareIdentifiers(const std::vector<EarlierIdentifiers>& earlier,
                                              const PackageIdentifiers& now);

// The patch-log line of a finding about `package` (with its line end).
std::string UploadFindingLine(const std::string& package, const UploadFinding& finding);
