#include "writers/TincanXml.h"

#include <tuple>

#include "platform/Text.h"
#include "writers/CopyTemplate.h"
#include "writers/Escape.h"
#include "writers/NormaliseTextFile.h"
#include "writers/TemplateText.h"

std::string XapiActivityId(std::string_view host, std::string_view courseID) {
    return "http://" + std::string(host) + "/" + std::string(courseID) + "/xapi/course";
}

std::string EscapeXapiDescription(std::string_view description) {
    // The order matters: only the ampersands the description held are escaped,
    // not those of the references the later rows insert.
    static constexpr std::string_view kRows[][2] = {
        {"&", "&amp;"},
        {"\"", "&quot;"},
        {"'", "&#39;"},
        {"\xC3\xA2\xC2\x80\xC2\x9C", "&#x201c;"},  // U+00E2 U+0080 U+009C
        {"\xC3\xA2\xC2\x80\xC2\x9D", "&#x201d;"},  // U+00E2 U+0080 U+009D
        {"\xC3\xA2\xC2\x80\xC2\x93", "&#8211;"},   // U+00E2 U+0080 U+0093
        {"\xC3\xA2\xC2\x80\xC2\x94", "&#x2014;"},  // U+00E2 U+0080 U+0094
        {",", "&#44;"},
        {"(", "&#40;"},
        {")", "&#41;"},
        {"\xC2\x93", "&#34;"},  // U+0093
        {"\xC2\x94", "&#34;"},  // U+0094
        {"<", "&lt;"},
        {">", "&gt;"},
    };
    std::string text(description);
    for (const auto& row : kRows) platform::ReplaceAllInPlace(text, row[0], row[1]);
    return text;
}

TincanXml TincanXmlText(const std::vector<std::string>& templateLines, std::string_view host, std::string_view courseID,
                        std::string_view webTitle, std::string webDescription) {
    const std::vector<TemplateRule> rules = {
        // The course key is a folder name: a path segment of the identifier, which is an attribute.
        {"<activity id=",
         "\t\t<activity id=\"" + EscapeXmlText(XapiActivityId(host, PercentEncodeUrlChars(courseID))) + "\"\n"},
        {"<name lang=", "\t\t<name lang=\"en-US\">" + std::string(webTitle) + "</name>\n"},
        {"<description lang=",
         {},
         false,
         [&webDescription] {
             // Each line that takes the description escapes what the one before left.
             webDescription = EscapeXapiDescription(webDescription);
             return "\t\t<description lang=\"en-US\">" + webDescription + "</description>\n";
         }},
    };
    std::string text = FillTemplate(templateLines, rules);
    return {FinishedTextBytes(text), std::move(webDescription)};
}

std::string WriteTincanXml(BundleFiles& files, Installation& install, const std::string& path,
                           std::string_view courseID, std::string_view webTitle, std::string webDescription) {
    files.MakeWritable(path);
    const std::string templatePath = install.Web() + "/html/tincan.xml";
    const std::vector<std::string>* lines = install.TemplateLines(templatePath);
    if (lines == nullptr) {
        // The template copy's rule for a template that is missing or unreadable.
        CopyTemplate(files, install, templatePath, path, {}, ReadOnly::keep);
        return webDescription;
    }
    TincanXml written = TincanXmlText(*lines, install.XapiHost(), courseID, webTitle, std::move(webDescription));
    std::ignore = WriteNormalisedFile(files, path, written.bytes);
    return std::move(written.webDescription);
}
