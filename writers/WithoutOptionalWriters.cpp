// The upload packages and the schema check in a build without their
// libraries: present so that the run links, never reached, since the options
// that ask for them are refused before a run starts.
#include "writers/OptionalWriters.h"
#include "writers/SchemaCheck.h"
#include "writers/UploadPackage.h"

bool HasUploadPackages() {
    return false;
}

bool HasSchemaCheck() {
    return false;
}

struct SchemaCheck::ParsedSchema {};

SchemaCheck::SchemaCheck(std::string schemaFolder) : m_folder(std::move(schemaFolder)) {}

SchemaCheck::~SchemaCheck() = default;

std::string_view SchemaCheck::SchemaFileOf(PackageFile file) {
    return file == PackageFile::ScormManifest ? "scorm12-wrapper.xsd" : "xapi/tincan.xsd";
}

SchemaVerdict SchemaCheck::Check(PackageFile, std::string_view) {
    return {SchemaVerdict::Outcome::SchemasMissing, 0, {}};
}

std::optional<std::string> BuildUploadPackage(std::vector<UploadEntry>, UploadProblem& problem) {
    problem = {{}, "this build has no zip support"};
    return std::nullopt;
}

CourseFiles CollectCourseFiles(const std::string&, const UploadRules&) {
    return {};
}

std::string UploadPackageName(const std::string& courseFolder, const std::string&) {
    return courseFolder;
}

void WriteUploadPackages(const std::vector<CourseToUpload>& courses, const UploadOptions&, RunReport& report) {
    if (!courses.empty()) report.AddProblem("No upload packages were written: this build has no zip support.\n");
}
