#include "writers/SchemaCheck.h"

#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlschemas.h>
#include <libxml/xmlversion.h>

#include <optional>
#include <utility>

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

// Serves schema files from the schema folder, read through the platform
// layer; anything else (a network address, a file elsewhere, a DTD) is not loaded.
xmlParserInputPtr LoadFromSchemaFolder(const char* url, const char*, xmlParserCtxtPtr context) {
    if (url == nullptr || g_allowedFolder == nullptr) return nullptr;
    std::string given = url;
    if (given.rfind("file://", 0) == 0) given.erase(0, 7);
    // An import's location is resolved against its schema's name as a URI: a
    // space or a non-ASCII letter in the folder's name comes escaped.
    std::string unescaped;
    if (char* text = xmlURIUnescapeString(given.c_str(), 0, nullptr)) {
        unescaped = text;
        xmlFree(text);
    }
    std::string path;
    std::optional<std::string> bytes;
    for (const std::string& candidate : {given, unescaped}) {
        if (candidate.empty() || candidate.front() != '/') continue;
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
