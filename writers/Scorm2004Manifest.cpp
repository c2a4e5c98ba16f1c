#include "writers/Scorm2004Manifest.h"

#include <tuple>

#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"

namespace {

constexpr std::string_view kImscpNamespace = "http://www.imsglobal.org/xsd/imscp_v1p1";
constexpr std::string_view kAdlcpNamespace = "http://www.adlnet.org/xsd/adlcp_v1p3";
constexpr std::string_view kImsssNamespace = "http://www.imsglobal.org/xsd/imsss";
constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
// Not named in schemaLocation: the LOM schema is not shipped, and content
// packaging admits metadata without checking it.
constexpr std::string_view kLomNamespace = "http://ltsc.ieee.org/xsd/LOM";

std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
}

// The content, trimmed, of the first element within `text` that opens with
// `open` and holds plain text, not empty; empty when there is none.
std::string_view FirstPlainElement(std::string_view text, std::string_view open, std::string_view close) {
    for (std::size_t at = text.find(open); at != std::string_view::npos; at = text.find(open, at + 1)) {
        std::size_t start = at + open.size();
        // `open` may stop before the attributes ("<string"): the tag ends at '>'.
        if (open.back() != '>') {
            const char next = start < text.size() ? text[start] : '\0';
            if (next != '>' && !platform::IsAsciiSpace(next)) continue;
            start = text.find('>', start);
            if (start == std::string_view::npos) return {};
            if (text[start - 1] == '/') continue;  // an empty element "<string/>"
            ++start;
        }
        const std::size_t end = text.find(close, start);
        if (end == std::string_view::npos) return {};
        const std::string_view content = platform::TrimAsciiSpace(text.substr(start, end - start));
        if (!content.empty() && content.find('<') == std::string_view::npos) return content;
    }
    return {};
}

// The text of the first CDATA section, with the sections that directly
// follow it (a "]]>" in the text is written split over two) joined on.
std::string FirstCdataText(std::string_view text) {
    constexpr std::string_view open = "<![CDATA[";
    constexpr std::string_view close = "]]>";
    std::size_t at = text.find(open);
    if (at == std::string_view::npos) return {};
    std::string joined;
    for (;;) {
        const std::size_t start = at + open.size();
        const std::size_t end = text.find(close, start);
        if (end == std::string_view::npos) return {};  // unterminated: not a value
        joined += text.substr(start, end - start);
        at = end + close.size();
        if (text.substr(at, open.size()) != open) return joined;
    }
}

// `content` as CDATA: a "]]>" in it would end the section early, so it is
// split over two sections, which read back as the same text.
std::string CdataSections(std::string_view content) {
    return "<![CDATA[" + platform::ReplaceAll(content, "]]>", "]]]]><![CDATA[>") + "]]>";
}

}  // namespace

CarriedOverValues FindCarriedOverValues(std::string_view text) {
    CarriedOverValues values;
    values.title = EscapeXmlMarkupText(FirstPlainElement(text, "<title>", "</title>"));
    // A metadata title holds its text in a language string: <langstring> in
    // SCORM 1.2 metadata, <string language=".."> in LOM.
    constexpr std::string_view open = "<title>";
    constexpr std::string_view close = "</title>";
    for (std::size_t at = text.find(open); at != std::string_view::npos && values.titleText.empty();
         at = text.find(open, at + 1)) {
        const std::size_t end = text.find(close, at);
        if (end == std::string_view::npos) break;
        const std::string_view title = text.substr(at + open.size(), end - at - open.size());
        std::string_view found = FirstPlainElement(title, "<langstring>", "</langstring>");
        if (found.empty()) found = FirstPlainElement(title, "<string", "</string>");
        values.titleText = EscapeXmlMarkupText(found);
    }
    values.description = FirstCdataText(text);
    return values;
}

std::string NormalizedPassMark(int passMark) {
    if (passMark <= 0) return "0";
    if (passMark >= 100) return "1";
    std::string digits = platform::FormatInt(passMark, 2);
    if (digits.back() == '0') digits.pop_back();
    return "0." + digits;
}

std::string_view LanguageCodeOf(std::string_view language) {
    if (platform::EqualsIgnoringAsciiCase(language, "Espa\xC3\xB1ol")) return "es";
    if (platform::EqualsIgnoringAsciiCase(language, "Portugu\xC3\xAAs")) return "pt";
    return "en";
}

std::string Scorm2004ManifestText(const Scorm2004ManifestValues& v) {
    // The course key is a folder name: plain text in the identifiers, a file name in the hrefs.
    const std::string id = EscapeXmlText(v.courseID);
    const std::string page = EscapeXmlText(PercentEncodeUrlChars(v.courseID));
    const std::string lang = Cat({"<string language=\"", v.languageCode, "\">"});
    const std::string item = v.itemIdentifier.empty() ? id + "_" + v.dateStamp : v.itemIdentifier;
    const std::string resource = v.resourceIdentifier.empty() ? "DORVANE" + v.dateStamp : v.resourceIdentifier;

    std::string sequencing;
    if (v.passMark >= 0) {
        const std::string_view byMeasure = v.satisfiedByMeasure ? " satisfiedByMeasure=\"true\"" : "";
        // clang-format off
        sequencing = Cat({
            "\t\t\t\t<imsss:sequencing>\n",
            "\t\t\t\t\t<imsss:objectives>\n",
            "\t\t\t\t\t\t<imsss:primaryObjective", byMeasure, ">\n",
            "\t\t\t\t\t\t\t<imsss:minNormalizedMeasure>", NormalizedPassMark(v.passMark),
            "</imsss:minNormalizedMeasure>\n",
            "\t\t\t\t\t\t</imsss:primaryObjective>\n",
            "\t\t\t\t\t</imsss:objectives>\n",
            "\t\t\t\t</imsss:sequencing>\n",
        });
        // clang-format on
    }

    std::string metadata;
    if (!v.titleText.empty() || !v.description.empty()) {
        std::string general;
        if (!v.titleText.empty()) {
            general += Cat({"\t\t\t\t\t\t<title>\n", "\t\t\t\t\t\t\t", lang, v.titleText, "</string>\n",
                            "\t\t\t\t\t\t</title>\n"});
        }
        // The section stands on a line of its own, as a SCORM 1.2 manifest's
        // does: a 1.2 run that takes the line over from this manifest gets the
        // description and nothing of LOM.
        if (!v.description.empty()) {
            general +=
                Cat({"\t\t\t\t\t\t<description>\n", "\t\t\t\t\t\t\t", lang, "\n", "\t\t\t\t\t\t\t\t",
                     CdataSections(v.description), "\n", "\t\t\t\t\t\t\t</string>\n", "\t\t\t\t\t\t</description>\n"});
        }
        metadata = Cat({"\t\t\t<metadata>\n", "\t\t\t\t<lom xmlns=\"", kLomNamespace, "\">\n", "\t\t\t\t\t<general>\n",
                        general, "\t\t\t\t\t</general>\n", "\t\t\t\t</lom>\n", "\t\t\t</metadata>\n"});
    }

    // One source line per manifest line, so the layout reads as written.
    // clang-format off
    return Cat({
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n",
        "<manifest identifier=\"", v.productCode, "\" version=\"1.0\"\n",
        "\txmlns=\"", kImscpNamespace, "\"\n",
        "\txmlns:adlcp=\"", kAdlcpNamespace, "\"\n",
        "\txmlns:imsss=\"", kImsssNamespace, "\"\n",
        "\txmlns:xsi=\"", kXsiNamespace, "\"\n",
        "\txsi:schemaLocation=\"", kImscpNamespace, " imscp_v1p1.xsd\n",
        "\t\t", kAdlcpNamespace, " adlcp_v1p3.xsd\n",
        "\t\t", kImsssNamespace, " imsss_v1p0.xsd\">\n",
        "\t<metadata>\n",
        "\t\t<schema>ADL SCORM</schema>\n",
        "\t\t<schemaversion>2004 4th Edition</schemaversion>\n",
        "\t</metadata>\n",
        "\t<organizations default=\"", id, "_org\">\n",
        "\t\t<organization identifier=\"", id, "_org\">\n",
        "\t\t\t<title>", v.title, "</title>\n",
        "\t\t\t<item identifier=\"", item, "\" identifierref=\"", resource, "\">\n",
        "\t\t\t\t<title>", v.title, "</title>\n",
        sequencing,
        "\t\t\t</item>\n",
        "\t\t</organization>\n",
        "\t</organizations>\n",
        "\t<resources>\n",
        "\t\t<resource identifier=\"", resource, "\" type=\"webcontent\" adlcp:scormType=\"sco\" href=\"",
        page, ".htm\">\n",
        metadata,
        "\t\t\t<file href=\"", page, ".htm\"/>\n",
        "\t\t</resource>\n",
        "\t</resources>\n",
        "</manifest>\n",
    });
    // clang-format on
}

void WriteScorm2004Manifest(BundleFiles& files, const std::string& path, const ManifestInputs& inputs,
                            ExitStatusMode exitStatusMode) {
    files.MakeWritable(path);
    // The old manifest is read once, whole, before it is replaced.
    std::error_code ec;
    const auto oldBytes = files.Read(path, ec);
    if (!oldBytes && ec != std::errc::no_such_file_or_directory) files.NoteFailure("read", path, ec);
    const CarriedOverValues carried =
        oldBytes ? FindCarriedOverValues(DecodeManifestText(*oldBytes)) : CarriedOverValues{};

    Scorm2004ManifestValues values;
    values.productCode = inputs.productCode;
    values.courseID = inputs.courseID;
    values.title = carried.title;
    values.titleText = carried.titleText;
    if (inputs.titlesFromWebTitle) {
        values.title = EscapeXmlMarkupText(inputs.webTitle);
        values.titleText = values.title;
    }
    // An LMS lists the course by this title: a bundle without one in its old
    // manifest takes the course title from its settings file, or its key.
    if (values.title.empty()) values.title = EscapeXmlMarkupText(platform::TrimAsciiSpace(inputs.webTitle));
    if (values.title.empty()) values.title = EscapeXmlText(inputs.courseID);
    if (inputs.descriptionFromWebDescription) {
        std::string text = inputs.webDescription;
        platform::ReplaceAllInPlace(text, "&lt;", "<");
        platform::ReplaceAllInPlace(text, "&gt;", ">");
        values.description = std::move(text);
    } else {
        values.description = carried.description;
    }
    values.languageCode = LanguageCodeOf(inputs.language);
    values.dateStamp = PlayerDateStamp(inputs.playerDate);
    values.passMark = inputs.masteryScore < 0 ? -1 : inputs.masteryScore;
    values.satisfiedByMeasure = exitStatusMode == ExitStatusMode::ScormConformant;
    const KeptIdentifiers kept = FindKeptIdentifiers(oldBytes, inputs);
    values.itemIdentifier = kept.item;
    values.resourceIdentifier = kept.resource;
    std::ignore = WriteNormalisedFile(files, path, FinishedTextBytes(Scorm2004ManifestText(values)));
}
