#include "writers/SchemaCheck.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlversion.h>

#include <algorithm>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Text.h"
#include "writers/OptionalWriters.h"

namespace {

#if LIBXML_VERSION >= 21200
using ErrorArgument = const xmlError*;
#else
using ErrorArgument = xmlError*;
#endif

// The first error libxml2 reports while the collector is installed.
struct ErrorCollector {
    std::optional<SchemaVerdict> first;
};

void CollectError(void* context, ErrorArgument error) {
    auto* collector = static_cast<ErrorCollector*>(context);
    if (error == nullptr || error->level < XML_ERR_ERROR || collector->first) return;
    std::string message = error->message != nullptr ? error->message : "unknown error";
    // One line in the log: libxml2 ends its messages with a line feed.
    while (!message.empty() && (platform::IsAsciiSpace(message.back()) || message.back() == '.')) message.pop_back();
    platform::ReplaceAllInPlace(message, "\n", " ");
    collector->first = SchemaVerdict{SchemaVerdict::Outcome::Invalid, error->line, std::move(message)};
}

void IgnoreGenericError(void*, const char*, ...) {}

// The only folder the entity loader below reads from while a check runs.
const std::string* g_allowedFolder = nullptr;

// A name libxml2 hands over for a file: "/..." on Linux, "C:/..." on Windows.
bool IsAbsoluteName(std::string_view name) {
    return name.starts_with('/') || (name.size() > 2 && name[1] == ':' && name[2] == '/');
}

// The file names a URL from libxml2 may stand for. An import's location is
// resolved against its schema's name as a URI: a space or a non-ASCII letter
// in the folder's name comes escaped, and on Windows the name then comes as
// "file:/C:/...".
std::vector<std::string> FileNamesOf(std::string given) {
    if (given.starts_with("file://")) {
        given.erase(0, 7);
    } else if (given.starts_with("file:/")) {
        given.erase(0, 5);
    }
    std::vector<std::string> names{given};
    if (char* text = xmlURIUnescapeString(given.c_str(), 0, nullptr)) {
        names.emplace_back(text);
        xmlFree(text);
    }
    for (std::size_t i = 0, count = names.size(); i < count; ++i) {
        // "/C:/...": a drive letter behind the URL's slash.
        std::string name = names[i];
        if (name.size() > 3 && name[0] == '/' && name[2] == ':' && name[3] == '/') names.push_back(name.substr(1));
    }
    return names;
}

// Serves schema files from the schema folder, read through the platform
// layer; anything else (a network address, a file elsewhere, a DTD) is not loaded.
xmlParserInputPtr LoadFromSchemaFolder(const char* url, const char*, xmlParserCtxtPtr context) {
    if (url == nullptr || g_allowedFolder == nullptr) return nullptr;
    std::string path;
    std::optional<std::string> bytes;
    for (const std::string& candidate : FileNamesOf(url)) {
        if (!IsAbsoluteName(candidate)) continue;
        path = platform::AbsolutePath(candidate);
        if (!platform::IsWithin(path, *g_allowedFolder)) continue;
        bytes = platform::ReadFileBytes(path);
        if (bytes) break;
    }
    if (!bytes) return nullptr;
    xmlParserInputBufferPtr buffer =
        xmlParserInputBufferCreateMem(bytes->data(), static_cast<int>(bytes->size()), XML_CHAR_ENCODING_NONE);
    if (buffer == nullptr) return nullptr;
    xmlParserInputPtr input = xmlNewIOInputStream(context, buffer, XML_CHAR_ENCODING_NONE);
    if (input == nullptr) {
        xmlFreeParserInputBuffer(buffer);
        return nullptr;
    }
    // The imports of a schema are found relative to its own name.
    input->filename = reinterpret_cast<const char*>(xmlStrdup(reinterpret_cast<const xmlChar*>(path.c_str())));
    return input;
}

// Installs the collector and the loader for one call, and puts back what was there.
class LibxmlScope {
public:
    LibxmlScope(ErrorCollector& collector, const std::string& folder)
        : m_loader(xmlGetExternalEntityLoader()), m_folder(g_allowedFolder) {
        xmlInitParser();
        g_allowedFolder = &folder;
        xmlSetExternalEntityLoader(LoadFromSchemaFolder);
        xmlSetStructuredErrorFunc(&collector, CollectError);
        xmlSetGenericErrorFunc(nullptr, IgnoreGenericError);
    }
    ~LibxmlScope() {
        xmlSetStructuredErrorFunc(nullptr, nullptr);
        xmlSetGenericErrorFunc(nullptr, nullptr);
        xmlSetExternalEntityLoader(m_loader);
        g_allowedFolder = m_folder;
    }
    LibxmlScope(const LibxmlScope&) = delete;
    LibxmlScope& operator=(const LibxmlScope&) = delete;

private:
    xmlExternalEntityLoader m_loader;
    const std::string* m_folder;
};

}  // namespace

struct SchemaCheck::ParsedSchema {
    xmlSchemaPtr schema = nullptr;
    ~ParsedSchema() {
        if (schema != nullptr) xmlSchemaFree(schema);
    }
};

bool HasSchemaCheck() {
    return true;
}

SchemaCheck::SchemaCheck(std::string schemaFolder) : m_folder(platform::AbsolutePath(schemaFolder)) {}

SchemaCheck::~SchemaCheck() = default;

std::string_view SchemaCheck::SchemaFileOf(PackageFile file) {
    // The wrappers import each SCORM version's namespaces, which import one another only in part.
    switch (file) {
        case PackageFile::ScormManifest:
            return "scorm12-wrapper.xsd";
        case PackageFile::Scorm2004Manifest:
            return "scorm2004-wrapper.xsd";
        case PackageFile::TincanXml:
            break;
    }
    return "xapi/tincan.xsd";
}

SchemaCheck::ParsedSchema* SchemaCheck::Schema(PackageFile file) {
    const auto found = m_schemas.find(file);
    if (found != m_schemas.end()) return found->second.get();
    std::unique_ptr<ParsedSchema>& parsed = m_schemas[file];
    const std::string path = m_folder + "/" + std::string(SchemaFileOf(file));
    // libxml2 would report a missing file as a parse error of its own: ask first.
    if (!platform::IsRegularFile(path)) return nullptr;
    ErrorCollector ignored;  // the official ims_xml.xsd draws a namespace warning that does not stop it loading
    const LibxmlScope scope(ignored, m_folder);
    xmlSchemaParserCtxtPtr context = xmlSchemaNewParserCtxt(path.c_str());
    if (context == nullptr) return nullptr;
    xmlSchemaSetParserStructuredErrors(context, CollectError, &ignored);
    xmlSchemaPtr schema = xmlSchemaParse(context);
    xmlSchemaFreeParserCtxt(context);
    if (schema == nullptr) return nullptr;
    parsed = std::make_unique<ParsedSchema>();
    parsed->schema = schema;
    return parsed.get();
}

SchemaVerdict SchemaCheck::Check(PackageFile file, std::string_view bytes) {
    ParsedSchema* schema = Schema(file);
    if (schema == nullptr) return {SchemaVerdict::Outcome::SchemasMissing, 0, {}};

    ErrorCollector collector;
    const LibxmlScope scope(collector, m_folder);
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (parser == nullptr) return {SchemaVerdict::Outcome::Invalid, 0, "out of memory"};
    // No DTD is loaded and no entity substituted: the generated files have none.
    xmlDocPtr doc =
        xmlCtxtReadMemory(parser, bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr, XML_PARSE_NONET);
    xmlFreeParserCtxt(parser);
    if (doc == nullptr) {
        if (collector.first) return *collector.first;
        return {SchemaVerdict::Outcome::Invalid, 0, "not well-formed XML"};
    }
    xmlSchemaValidCtxtPtr validation = xmlSchemaNewValidCtxt(schema->schema);
    int result = -1;
    if (validation != nullptr) {
        xmlSchemaSetValidStructuredErrors(validation, CollectError, &collector);
        result = xmlSchemaValidateDoc(validation, doc);
        xmlSchemaFreeValidCtxt(validation);
    }
    xmlFreeDoc(doc);
    if (result == 0) return {};
    if (collector.first) return *collector.first;
    return {SchemaVerdict::Outcome::Invalid, 0, "the schema check could not run"};
}

namespace {

// The installation's schema set for each namespace a manifest may name.
struct SchemaSet {
    std::string_view nameSpace;
    std::string_view folder;  // below the installation's schemas folder
};
constexpr SchemaSet kSchemaSets[] = {
    {"http://www.imsproject.org/xsd/imscp_rootv1p1p2", "scorm12"},
    {"http://www.imsglobal.org/xsd/imsmd_rootv1p2p1", "scorm12"},
    {"http://www.adlnet.org/xsd/adlcp_rootv1p2", "scorm12"},
    {"http://www.imsglobal.org/xsd/imscp_v1p1", "scorm2004-4th"},
    {"http://www.adlnet.org/xsd/adlcp_v1p3", "scorm2004-4th"},
    {"http://www.adlnet.org/xsd/adlseq_v1p3", "scorm2004-4th"},
    {"http://www.adlnet.org/xsd/adlnav_v1p3", "scorm2004-4th"},
    {"http://www.imsglobal.org/xsd/imsss", "scorm2004-4th"},
};

bool IsXmlSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::vector<std::string_view> XmlSpaceSeparated(std::string_view text) {
    std::vector<std::string_view> tokens;
    std::size_t at = 0;
    while (at < text.size()) {
        while (at < text.size() && IsXmlSpace(text[at])) ++at;
        std::size_t end = at;
        while (end < text.size() && !IsXmlSpace(text[end])) ++end;
        if (end > at) tokens.push_back(text.substr(at, end - at));
        at = end;
    }
    return tokens;
}

// A name that stays beside the schema that gives it: no folder, no address.
bool IsPlainSchemaFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

// The quoted plain .xsd and .dtd file names in a schema or DTD: its imports'
// and includes' schemaLocation, its DOCTYPE's and entities' system
// identifiers. Each is found from its end, so that an apostrophe in a
// comment cannot pair the quotes wrongly.
std::vector<std::string> QuotedSchemaFileNames(std::string_view text) {
    std::vector<std::string> names;
    for (std::size_t at = 0; at + 5 <= text.size(); ++at) {
        const std::string_view ending = text.substr(at, 4);
        const char quote = text[at + 4];
        if ((ending != ".xsd" && ending != ".dtd") || (quote != '"' && quote != '\'')) continue;
        const std::size_t start = text.rfind(quote, at);
        if (start == std::string_view::npos) continue;
        const std::string_view name = text.substr(start + 1, at + 4 - start - 1);
        if (IsPlainSchemaFileName(name)) names.emplace_back(name);
    }
    return names;
}

}  // namespace

std::vector<NamedSchemaFile> SchemaFilesNamedBy(std::string_view manifestText, const std::string& schemaFolder) {
    std::vector<NamedSchemaFile> files;
    std::set<std::string> seen;
    // (file name, folder below the schemas folder) still to look at
    std::vector<std::pair<std::string, std::string_view>> pending;

    constexpr std::string_view attribute = "schemaLocation";
    for (std::size_t at = manifestText.find(attribute); at != std::string_view::npos;
         at = manifestText.find(attribute, at + attribute.size())) {
        std::size_t value = at + attribute.size();
        while (value < manifestText.size() && IsXmlSpace(manifestText[value])) ++value;
        if (value >= manifestText.size() || manifestText[value] != '=') continue;
        ++value;
        while (value < manifestText.size() && IsXmlSpace(manifestText[value])) ++value;
        if (value >= manifestText.size() || (manifestText[value] != '"' && manifestText[value] != '\'')) continue;
        const std::size_t end = manifestText.find(manifestText[value], value + 1);
        if (end == std::string_view::npos) break;
        const std::vector<std::string_view> tokens = XmlSpaceSeparated(manifestText.substr(value + 1, end - value - 1));
        for (std::size_t i = 0; i + 1 < tokens.size(); i += 2) {
            const auto set = std::find_if(std::begin(kSchemaSets), std::end(kSchemaSets),
                                          [&](const SchemaSet& s) { return s.nameSpace == tokens[i]; });
            if (set != std::end(kSchemaSets) && IsPlainSchemaFileName(tokens[i + 1])) {
                pending.emplace_back(std::string(tokens[i + 1]), set->folder);
            }
        }
    }

    // Breadth first, so that the named files come first, in the manifest's order.
    for (std::size_t next = 0; next < pending.size(); ++next) {
        const auto [name, folder] = pending[next];
        if (!seen.insert(name).second) continue;
        const std::string path = schemaFolder + "/" + std::string(folder) + "/" + name;
        const std::optional<std::string> bytes =
            platform::IsRegularFile(path) ? platform::ReadFileBytes(path) : std::nullopt;
        files.push_back({name, bytes ? path : std::string()});
        if (!bytes) continue;
        for (std::string& used : QuotedSchemaFileNames(*bytes)) {
            // Only what lies beside it: a name that merely appears in its text is no file.
            if (!seen.contains(used) &&
                platform::IsRegularFile(schemaFolder + "/" + std::string(folder) + "/" + used)) {
                pending.emplace_back(std::move(used), folder);
            }
        }
    }
    return files;
}
