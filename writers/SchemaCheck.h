#pragma once

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The generated files an LMS checks against a published schema before it
// takes a package.
enum class PackageFile {
    ScormManifest,      // imsmanifest.xml: SCORM 1.2 content packaging, ADL and IMS metadata
    TincanXml,          // tincan.xml: the xAPI activity file
    Scorm2004Manifest,  // imsmanifest.xml: SCORM 2004 4th Edition content packaging, ADL and sequencing
};

// What a check found.
struct SchemaVerdict {
    enum class Outcome {
        Valid,
        Invalid,         // `line` and `message` name the first error
        SchemasMissing,  // the schema files are missing or unreadable: nothing was checked
    };
    Outcome outcome = Outcome::Valid;
    int line = 0;
    std::string message;  // one line, without a full stop or line end
};

// Checks generated files against the schemas an installation ships in its
// `schemas` folder (scorm12-wrapper.xsd, xapi/tincan.xsd, scorm2004-wrapper.xsd). Each schema is
// parsed once and kept for the life of the object. No network is used and no
// file outside the schema folder is loaded; the files are read through the
// platform layer. Messages are collected, never printed.
class SchemaCheck {
public:
    explicit SchemaCheck(std::string schemaFolder);
    ~SchemaCheck();
    SchemaCheck(const SchemaCheck&) = delete;
    SchemaCheck& operator=(const SchemaCheck&) = delete;

    SchemaVerdict Check(PackageFile file, std::string_view bytes);

    // The file, below the schema folder, that `file` is checked against.
    static std::string_view SchemaFileOf(PackageFile file);

private:
    struct ParsedSchema;
    // The parsed schema, or nullptr when it cannot be loaded (asked once).
    ParsedSchema* Schema(PackageFile file);

    std::string m_folder;
    std::map<PackageFile, std::unique_ptr<ParsedSchema>> m_schemas;
};

// A schema file a package needs at its root: its name there, and the
// installation's copy (empty when the installation lacks it).
struct NamedSchemaFile {
    std::string name;
    std::string path;
};

// The schema files a manifest's xsi:schemaLocation names, for the namespaces
// whose schemas an installation ships below `schemaFolder` (SCORM 1.2 in
// scorm12, SCORM 2004 4th Edition in scorm2004-4th), and the files those include, import
// or load as DTDs from beside them, each once, in the order first met. Only
// plain file names are taken: no folders, no addresses.
std::vector<NamedSchemaFile> SchemaFilesNamedBy(std::string_view manifestText, const std::string& schemaFolder);
