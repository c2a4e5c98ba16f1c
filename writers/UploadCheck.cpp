#include "writers/UploadCheck.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <climits>
#include <map>
#include <set>

#include "platform/Text.h"
#include "writers/Escape.h"

namespace {

std::string Quoted(std::string_view text) {
    return "'" + EscapeLogName(text) + "'";
}

std::optional<std::string> Attribute(xmlNodePtr node, const char* name, const xmlChar* nameSpace = nullptr) {
    const auto* key = reinterpret_cast<const xmlChar*>(name);
    xmlChar* value = nameSpace != nullptr ? xmlGetNsProp(node, key, nameSpace) : xmlGetNoNsProp(node, key);
    if (value == nullptr) return std::nullopt;
    std::string text(reinterpret_cast<const char*>(value));
    xmlFree(value);
    return text;
}

std::string TextOf(xmlNodePtr node) {
    xmlChar* content = xmlNodeGetContent(node);
    if (content == nullptr) return {};
    std::string text(platform::TrimAsciiSpace(reinterpret_cast<const char*>(content)));
    xmlFree(content);
    return text;
}

bool Named(xmlNodePtr node, std::string_view name) {
    return name == reinterpret_cast<const char*>(node->name);
}

void Gather(xmlNodePtr node, const std::string& base, PackageFileFacts& facts) {
    for (; node != nullptr; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        // Metadata may use the same element names for other things.
        if (Named(node, "metadata")) continue;
        std::string here = base;
        if (const auto xmlBase = Attribute(node, "base", XML_XML_NAMESPACE)) here += *xmlBase;
        const auto identifier = Attribute(node, "identifier");
        PackageIdentifiers& ids = facts.identifiers;
        if (Named(node, "manifest") && identifier) ids.manifest.push_back(*identifier);
        if (Named(node, "organization") && identifier) ids.organizations.push_back(*identifier);
        if (Named(node, "item") && identifier) ids.items.push_back(*identifier);
        if (Named(node, "resource")) {
            if (identifier) ids.resources.push_back(*identifier);
            if (const auto href = Attribute(node, "href")) facts.hrefs.push_back({"the manifest's href", here + *href});
        }
        if (Named(node, "file")) {
            if (const auto href = Attribute(node, "href")) {
                facts.hrefs.push_back({"the manifest's file href", here + *href});
            }
        }
        if (Named(node, "activity")) {
            if (const auto id = Attribute(node, "id")) ids.activities.push_back(*id);
        }
        if (Named(node, "launch")) facts.hrefs.push_back({"tincan.xml's launch", TextOf(node)});
        Gather(node->children, here, facts);
    }
}

// XML 1.0 name characters, less the colon: what an xs:ID value is made of.
bool IsNameStart(char32_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || (c >= 0xC0 && c <= 0xD6) ||
           (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) || (c >= 0x370 && c <= 0x37D) ||
           (c >= 0x37F && c <= 0x1FFF) || (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) || (c >= 0xF900 && c <= 0xFDCF) ||
           (c >= 0xFDF0 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStart(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

// Why `id` is not an xs:ID value; empty when it is one.
std::string WhyNotAnId(std::string_view id) {
    if (id.empty()) return "it is empty";
    std::size_t at = 0;
    const char32_t first = platform::NextCodePoint(id, at);
    if (!IsNameStart(first)) {
        return first >= '0' && first <= '9' ? "it starts with a digit" : "it does not start with a letter or '_'";
    }
    while (at < id.size()) {
        const std::size_t start = at;
        if (!IsNameChar(platform::NextCodePoint(id, at))) {
            return "it holds " + Quoted(id.substr(start, at - start)) +
                   ", where only letters, digits, '.', '-' and '_' may stand";
        }
    }
    return {};
}

bool HasScheme(std::string_view href) {
    const std::size_t colon = href.find(':');
    // One letter before the colon is a drive, not a scheme.
    if (colon == std::string_view::npos || colon < 2) return false;
    return std::all_of(href.begin(), href.begin() + static_cast<std::ptrdiff_t>(colon), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '-' ||
               c == '.';
    });
}

bool HasDotDotComponent(std::string_view path) {
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find_first_of("/\\", start), path.size());
        if (path.substr(start, end - start) == "..") return true;
        start = end + 1;
    }
    return false;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string PercentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

UploadFinding Problem(std::string rule, std::string detail) {
    return {UploadFinding::Severity::problem, std::move(rule), std::move(detail)};
}

UploadFinding Warning(std::string rule, std::string detail) {
    return {UploadFinding::Severity::warning, std::move(rule), std::move(detail)};
}

void CheckHrefs(const std::vector<PackageHref>& hrefs, const std::vector<std::string>& names,
                std::vector<UploadFinding>& findings) {
    const std::set<std::string> exact(names.begin(), names.end());
    for (const PackageHref& href : hrefs) {
        const std::string_view value = href.value;
        if (value.empty() || HasScheme(value)) continue;  // none, or an address outside the package
        const std::string named = href.what + " " + Quoted(value);
        if (value.front() == '/' || (value.size() > 1 && value[1] == ':')) {
            findings.push_back(Problem("href", named + " is an absolute path"));
        } else if (value.find('\\') != std::string_view::npos) {
            findings.push_back(Problem("href", named + " holds a backslash"));
        } else if (HasDotDotComponent(value)) {
            findings.push_back(Problem("href", named + " holds a '..' component"));
        } else {
            const std::string file = PercentDecoded(value.substr(0, value.find_first_of("?#")));
            if (exact.contains(file)) continue;
            std::string detail = named + " names no file of the package";
            const auto other = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
                return platform::EqualsIgnoringCase(name, file);
            });
            if (other != names.end()) detail += " (" + Quoted(*other) + " differs from it in letter case)";
            findings.push_back(Problem("missing file", detail));
        }
    }
}

void CheckIdentifiers(const PackageIdentifiers& ids, std::vector<UploadFinding>& findings) {
    std::map<std::string, int> count;
    std::vector<std::string> order;
    for (const auto* list : {&ids.manifest, &ids.organizations, &ids.items, &ids.resources}) {
        for (const std::string& id : *list) {
            if (count[id]++ == 0) order.push_back(id);
        }
    }
    for (const std::string& id : order) {
        if (const std::string why = WhyNotAnId(id); !why.empty()) {
            findings.push_back(Problem("identifier", "identifier " + Quoted(id) + " is not a valid xs:ID: " + why));
        }
        if (count[id] > 1) {
            findings.push_back(Problem("identifier", "identifier " + Quoted(id) + " is not unique: it stands " +
                                                         std::to_string(count[id]) + " times"));
        }
    }
}

void CheckNames(const std::vector<std::string>& names, std::vector<UploadFinding>& findings) {
    std::map<std::string, std::string> byUpper;
    std::set<std::string> warned;
    for (const std::string& name : names) {
        if (const std::string why = WhyUnsafeEntryName(name); !why.empty()) {
            findings.push_back(Problem("name", Quoted(name) + " would be unpacked elsewhere on Windows: " + why));
        }
        // Named once for the folder or file that holds the character, not for every file below it.
        for (std::size_t end = name.find('/');; end = name.find('/', end + 1)) {
            const std::string prefix = name.substr(0, end);
            const std::string_view last = std::string_view(prefix).substr(prefix.rfind('/') + 1);
            std::vector<std::string> mangled;
            if (last.find(' ') != std::string_view::npos) mangled.emplace_back("a space");
            if (last.find('~') != std::string_view::npos) mangled.emplace_back("'~'");
            if (std::any_of(last.begin(), last.end(), [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
                mangled.emplace_back("characters outside ASCII");
            }
            if (!mangled.empty() && warned.insert(prefix).second) {
                std::string holds = mangled.front();
                for (std::size_t i = 1; i < mangled.size(); ++i) {
                    holds += (i + 1 == mangled.size() ? " and " : ", ") + mangled[i];
                }
                findings.push_back(Warning("name", Quoted(prefix) + " holds " + holds + ", which some LMSs mangle"));
            }
            if (end == std::string::npos) break;
        }
        const auto [first, inserted] = byUpper.emplace(platform::ToUpperText(name), name);
        if (!inserted) {
            findings.push_back(Warning("name", Quoted(first->second) + " and " + Quoted(name) +
                                                   " differ only in letter case, which some LMSs cannot tell apart"));
        }
    }
}

std::string Megabytes(std::uint64_t bytes) {
    // Tenths, rounded up, so that a package just over the limit does not read as on it.
    const std::uint64_t tenths = (bytes * 10 + (1u << 20) - 1) >> 20;
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10);
}

}  // namespace

std::optional<PackageFileFacts> ReadPackageFile(std::string_view bytes) {
    if (bytes.size() > INT_MAX) return std::nullopt;
    xmlDocPtr doc = xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    if (doc == nullptr) return std::nullopt;
    PackageFileFacts facts;
    Gather(xmlDocGetRootElement(doc), {}, facts);
    xmlFreeDoc(doc);
    return facts;
}

std::string WhyUnsafeEntryName(std::string_view name) {
    if (name.find('\\') != std::string_view::npos) return "it holds a backslash";
    if (name.starts_with('/')) return "it starts with '/'";
    if (name.size() > 1 && name[1] == ':' && ((name[0] >= 'A' && name[0] <= 'Z') || (name[0] >= 'a' && name[0] <= 'z')))
        return "it starts with a drive letter";
    if (HasDotDotComponent(name)) return "it holds a '..' component";
    return {};
}

std::vector<UploadFinding> CheckPackage(const PackageToCheck& package) {
    std::vector<UploadFinding> findings;
    for (const auto& [file, bytes] :
         {std::pair{"imsmanifest.xml", &package.manifest}, std::pair{"tincan.xml", &package.activities}}) {
        if (!*bytes) continue;
        const std::optional<PackageFileFacts> facts = ReadPackageFile(**bytes);
        if (!facts) {
            findings.push_back(Problem("schema", std::string(file) + " is not well-formed XML"));
            continue;
        }
        CheckHrefs(facts->hrefs, package.names, findings);
        CheckIdentifiers(facts->identifiers, findings);
    }
    CheckNames(package.names, findings);
    if (package.sizeLimitMB > 0 && package.bytes > (static_cast<std::uint64_t>(package.sizeLimitMB) << 20)) {
        findings.push_back(Warning("size", "the package is " + Megabytes(package.bytes) +
                                               " MB, over the upload size limit of " +
                                               std::to_string(package.sizeLimitMB) + " MB"));
    }
    return findings;
}

std::vector<UploadFinding> CompareIdentifiers(const std::vector<EarlierIdentifiers>& earlier,
                                              const PackageIdentifiers& now) {
    std::vector<UploadFinding> findings;
    const struct {
        const char* role;
        const std::vector<std::string> PackageIdentifiers::*list;
    } roles[] = {
        {"manifest identifier", &PackageIdentifiers::manifest},
        {"organization identifier", &PackageIdentifiers::organizations},
        {"item identifier", &PackageIdentifiers::items},
        {"resource identifier", &PackageIdentifiers::resources},
        {"xAPI activity id", &PackageIdentifiers::activities},
    };
    std::set<std::string> named;
    for (const EarlierIdentifiers& before : earlier) {
        const std::string consequence = " (against " + before.since +
                                        "); the LMS will take the upload as a new course, and learner records will "
                                        "not carry over";
        for (const auto& role : roles) {
            const std::vector<std::string>& old = before.identifiers.*role.list;
            const std::vector<std::string>& current = now.*role.list;
            for (std::size_t i = 0; i < old.size(); ++i) {
                if (i < current.size() && old[i] == current[i]) continue;
                const std::string what = std::string("the ") + role.role;
                const std::string change = i < current.size()
                                               ? what + " changes from " + Quoted(old[i]) + " to " + Quoted(current[i])
                                               : what + " " + Quoted(old[i]) + " is gone";
                if (!named.insert(change).second) continue;
                findings.push_back(Warning("identifier change", change + consequence));
            }
        }
    }
    return findings;
}

std::string UploadFindingLine(const std::string& package, const UploadFinding& finding) {
    const char* severity = finding.severity == UploadFinding::Severity::problem ? "problem" : "warning";
    return "'" + EscapeLogPath(package) + "' " + severity + ", " + finding.rule + ": " + finding.detail + ".\n";
}
