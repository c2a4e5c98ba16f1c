#include "app/QuarvelRun.h"
#include "platform/Text.h"
#include "writers/TincanText.h"

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

void QuarvelRun::WriteTincanXml(const std::string& path) {
    // The host is read from the install store once per run.
    if (!m_xapiHost) {
        const auto stored = store().Read("xAPI Host");
        const std::string_view host = stored ? platform::TrimAsciiSpace(*stored) : std::string_view();
        m_xapiHost = std::string(host.empty() ? kDefaultXapiHost : host);
    }
    CopyTemplate(GetInstallFolder() + "/web/html/tincan.xml", path,
                 {
                     {"<activity id=", "\t\t<activity id=\"" + XapiActivityId(*m_xapiHost, record.courseID) + "\"\n"},
                     {"<name lang=", "\t\t<name lang=\"en-US\">" + record.WebTitle + "</name>\n"},
                     {"<description lang=",
                      {},
                      false,
                      [this] {
                          // The record keeps the escaped text: a second marker line escapes it again.
                          record.WebDescription = EscapeXapiDescription(record.WebDescription);
                          return "\t\t<description lang=\"en-US\">" + record.WebDescription + "</description>\n";
                      }},
                 },
                 ReadOnly::clear);
}
