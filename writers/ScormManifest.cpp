#include "writers/ScormManifest.h"

#include <tuple>

#include "platform/Text.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"
#include "writers/UploadCheck.h"

namespace {

constexpr std::string_view kImscpNamespace = "http://www.imsproject.org/xsd/imscp_rootv1p1p2";
constexpr std::string_view kAdlcpNamespace = "http://www.adlnet.org/xsd/adlcp_rootv1p2";
constexpr std::string_view kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr std::string_view kImsmdNamespace = "http://www.imsglobal.org/xsd/imsmd_rootv1p2p1";

// True when `line` holds the opening tag and, after it, the closing tag.
bool HoldsWholeElement(std::string_view line, std::string_view open, std::string_view close) {
    const std::size_t at = line.find(open);
    return at != std::string_view::npos && line.find(close, at + open.size()) != std::string_view::npos;
}

std::string Cat(std::initializer_list<std::string_view> parts) {
    std::string text;
    for (const std::string_view part : parts) text += part;
    return text;
}

}  // namespace

std::string DecodeManifestText(std::string_view bytes) {
    std::string text = platform::DecodeUtf8Lossy(bytes);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    return text;
}

std::string FirstLineContaining(std::string_view text, std::string_view marker) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        std::string_view line = text.substr(0, lf);
        text = lf == std::string_view::npos ? std::string_view() : text.substr(lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (!line.empty() && line.find(marker) != std::string_view::npos) return std::string(line);
    }
    return {};
}

std::string FindFirstLineContaining(const std::string& path, std::string_view marker) {
    const auto bytes = platform::ReadFileBytes(path);
    return bytes ? FirstLineContaining(DecodeManifestText(*bytes), marker) : std::string();
}

CarriedOverLines FindCarriedOverLines(std::string_view oldManifestText) {
    CarriedOverLines lines;
    lines.description = FirstLineContaining(oldManifestText, "<![CDATA");
    lines.title = FirstLineContaining(oldManifestText, "<title>");
    if (!HoldsWholeElement(lines.title, "<title>", "</title>")) lines.title.clear();
    lines.titleText = FirstLineContaining(oldManifestText, "<langstring>");
    if (!HoldsWholeElement(lines.titleText, "<langstring>", "</langstring>")) lines.titleText.clear();
    return lines;
}

std::string PlayerDateStamp(const std::optional<platform::LocalDate>& date) {
    if (!date) return "00000000";
    return platform::FormatInt(date->month, 2) + platform::FormatInt(date->day, 2) + platform::FormatInt(date->year, 4);
}

std::string LanguageLine(std::string_view language) {
    std::string_view code = "en";
    if (platform::EqualsIgnoringAsciiCase(language, "English")) {
        code = "en";
    } else if (platform::EqualsIgnoringAsciiCase(language, "Espa\xC3\xB1ol")) {
        code = "es";
    } else if (platform::EqualsIgnoringAsciiCase(language, "Portugu\xC3\xAAs")) {
        code = "po";  // the code the LMS side has always been given for Portuguese
    }
    return Cat({"\t\t\t\t\t<language>", code, "</language>"});
}

std::string DescriptionLineFrom(std::string_view webDescription) {
    std::string text(webDescription);
    platform::ReplaceAllInPlace(text, "&lt;", "<");
    platform::ReplaceAllInPlace(text, "&gt;", ">");
    // A "]]>" in the description would end the section early and break the
    // manifest: it is split over two sections, which read back as the same text.
    platform::ReplaceAllInPlace(text, "]]>", "]]]]><![CDATA[>");
    return Cat({"\t\t\t\t\t\t\t<![CDATA[", text, "]]>"});
}

std::string ScormManifestText(const ManifestValues& v) {
    const std::string mastery = platform::FormatInt(v.masteryScore == -1 ? 0 : v.masteryScore);
    // The course key is a folder name: plain text in the identifiers, a file name in the hrefs.
    const std::string id = EscapeXmlText(v.courseID);
    const std::string page = EscapeXmlText(PercentEncodeUrlChars(v.courseID));
    const std::string item = v.itemIdentifier.empty() ? id + "_" + v.dateStamp : v.itemIdentifier;
    const std::string resource = v.resourceIdentifier.empty() ? "DORVANE" + v.dateStamp : v.resourceIdentifier;
    // One source line per manifest line, so the layout reads as written.
    // clang-format off
    return Cat({
        "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n\n",
        "<manifest identifier=\"", v.productCode, "\" version=\"5.14\"\n",
        "\txmlns=\"", kImscpNamespace, "\"\n",
        "\txmlns:adlcp=\"", kAdlcpNamespace, "\"\n",
        "\txmlns:xsi=\"", kXsiNamespace, "\"\n",
        "\txmlns:adlmd=\"", kImsmdNamespace, "\"\n\n",
        "\t\txsi:schemaLocation=\"", kImscpNamespace, " imscp_rootv1p1p2.xsd\n",
        "\t\t", kImsmdNamespace, " imsmd_rootv1p2p1.xsd\n",
        "\t\t", kAdlcpNamespace, " adlcp_rootv1p2.xsd\" >\n\n",
        "<metadata>\n",
        "\t<schema>ADL SCORM</schema>\n",
        "\t<schemaversion>1.2</schemaversion>\n",
        "</metadata>\n\n",
        "<organizations default=\"", id, "_org\">\n",
        "\t<organization identifier=\"", id, "_org\">\n",
        v.titleLine, "\n",
        "\t\t<item identifier=\"", item, "\" identifierref=\"", resource, "\">\n",
        v.titleLine, "\n",
        "\t\t\t<adlcp:masteryscore>", mastery, "</adlcp:masteryscore>\n",
        "\t\t</item>\n",
        "\t</organization>\n",
        "</organizations>\n\n",
        "<resources>\n",
        "\t<resource identifier=\"", resource, "\" adlcp:scormtype=\"sco\" type=\"webcontent\" href=\"",
        page, ".htm\">\n",
        "\t\t<metadata>\n",
        "\t\t\t<lom xmlns=\"", kImsmdNamespace, "\">\n",
        "\t\t\t\t<general>\n",
        "\t\t\t\t\t<title>\n",
        v.titleTextLine, "\n",
        "\t\t\t\t\t</title>\n",
        LanguageLine(v.language), "\n",
        "\t\t\t\t\t<description>\n",
        "\t\t\t\t\t\t<langstring>\n",
        v.descriptionLine, "\n",
        "\t\t\t\t\t\t</langstring>\n",
        "\t\t\t\t\t</description>\n",
        "\t\t\t\t</general>\n",
        "\t\t\t</lom>\n",
        "\t\t</metadata>\n",
        "\t\t<file href=\"", page, ".htm\" />\n",
        "\t</resource>\n",
        "</resources>\n",
        "</manifest>\n",
    });
    // clang-format on
}

KeptIdentifiers FindKeptIdentifiers(const std::optional<std::string>& oldBytes, const ManifestInputs& inputs) {
    if (!inputs.keepIdentifiers || !oldBytes) return {};
    const std::optional<PackageFileFacts> old = ReadPackageFile(*oldBytes);
    if (!old) return {};
    const PackageIdentifiers& ids = old->identifiers;
    return {ids.items.empty() ? "" : EscapeXmlText(ids.items.front()),
            ids.resources.empty() ? "" : EscapeXmlText(ids.resources.front())};
}

void WriteScormManifest(BundleFiles& files, const std::string& path, const ManifestInputs& inputs) {
    files.MakeWritable(path);
    // The old manifest is read once, whole, before it is replaced.
    std::error_code ec;
    const auto oldBytes = files.Read(path, ec);
    if (!oldBytes && ec != std::errc::no_such_file_or_directory) files.NoteFailure("read", path, ec);
    const CarriedOverLines carried =
        oldBytes ? FindCarriedOverLines(DecodeManifestText(*oldBytes)) : CarriedOverLines{};

    ManifestValues values;
    values.productCode = inputs.productCode;
    values.courseID = inputs.courseID;
    values.titleLine = carried.title;
    values.titleTextLine = carried.titleText;
    if (inputs.titlesFromWebTitle) {
        values.titleLine = "\t\t\t<title>" + inputs.webTitle + "</title>";
        values.titleTextLine = "\t\t\t\t\t\t<langstring>" + inputs.webTitle + "</langstring>";
    }
    values.descriptionLine =
        inputs.descriptionFromWebDescription ? DescriptionLineFrom(inputs.webDescription) : carried.description;
    values.dateStamp = PlayerDateStamp(inputs.playerDate);
    values.masteryScore = inputs.masteryScore;
    values.language = inputs.language;
    const KeptIdentifiers kept = FindKeptIdentifiers(oldBytes, inputs);
    values.itemIdentifier = kept.item;
    values.resourceIdentifier = kept.resource;
    std::ignore = WriteNormalisedFile(files, path, FinishedTextBytes(ScormManifestText(values)));
}
