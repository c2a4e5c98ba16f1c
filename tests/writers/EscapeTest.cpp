#include <sys/wait.h>

#include <cstdlib>

#include "support/TestSupport.h"
#include "writers/Escape.h"

namespace {

struct Row {
    const char* name;
    std::string in;
    std::string out;
};

void CheckRows(std::string (*escape)(std::string_view), const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(escape(row.in), row.out);
    }
}

// Names holding none of the characters any of the functions escape.
const std::vector<std::string> kPlainNames = {
    "",
    "course101",
    "with space and (brackets), comma; dots.",
    "caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x98\x80",  // Latin-1, CJK, an emoji
    "@!$*+=[]{}|~^`",
    std::string(300, 'n'),
};

TEST(EscapeTest, PlainNamesComeBackByteForByte) {
    for (const auto escape :
         {EscapeXmlText, EscapeXmlMarkupText, EscapeScriptString, PercentEncodeUrlChars, EscapeLogName}) {
        for (const std::string& name : kPlainNames) {
            SCOPED_TRACE(name);
            EXPECT_EQ(escape(name), name);
        }
    }
}

TEST(EscapeTest, XmlText) {
    CheckRows(EscapeXmlText, {
                                 {"apostrophe", "o'neil101", "o&apos;neil101"},
                                 {"ampersand and brackets", "r&d<1>", "r&amp;d&lt;1&gt;"},
                                 {"double quote", "say \"hi\"", "say &quot;hi&quot;"},
                                 {"a reference is plain text here", "&amp;", "&amp;amp;"},
                                 {"markup-like", "]]></x>", "]]&gt;&lt;/x&gt;"},
                                 {"URL characters stay", "50% #1?", "50% #1?"},
                                 {"other bytes stay", "a\nb\xE9", "a\nb\xE9"},
                             });
}

TEST(EscapeTest, XmlMarkupText) {
    CheckRows(EscapeXmlMarkupText,
              {
                  {"numeric references kept", "Fire&#44; Safety", "Fire&#44; Safety"},
                  {"every predefined entity kept", "&amp;&lt;&gt;&quot;&apos;", "&amp;&lt;&gt;&quot;&apos;"},
                  {"hex references kept", "&#x2026;&#X41;&#x1F600;", "&#x2026;&amp;#X41;&#x1F600;"},
                  {"references of the conversion", "&#39;&#40;&#41;&quot;", "&#39;&#40;&#41;&quot;"},
                  {"bare ampersand and brackets", "R&D <1>", "R&amp;D &lt;1&gt;"},
                  {"HTML entity", "&nbsp;", "&amp;nbsp;"},
                  {"unterminated", "&#44 and &amp", "&amp;#44 and &amp;amp"},
                  {"empty references", "&#; &#x; &;", "&amp;#; &amp;#x; &amp;;"},
                  {"forbidden characters", "&#0;&#x1;&#xFFFE;&#xD800;", "&amp;#0;&amp;#x1;&amp;#xFFFE;&amp;#xD800;"},
                  {"allowed controls", "&#9;&#10;&#13;", "&#9;&#10;&#13;"},
                  {"out of range", "&#x110000; &#99999999999999999999;", "&amp;#x110000; &amp;#99999999999999999999;"},
                  {"ampersand at the end", "a&", "a&amp;"},
                  {"quotes stay", "\"'", "\"'"},
              });
}

TEST(EscapeTest, ScriptString) {
    CheckRows(EscapeScriptString,
              {
                  {"apostrophe", "o'neil101", "o\\'neil101"},
                  {"double quote", "a\"b", "a\\\"b"},
                  {"backslash", "C:\\x\\", "C:\\\\x\\\\"},
                  {"closing script element", "</script><script>alert(1)</script>",
                   "\\x3C/script>\\x3Cscript>alert(1)\\x3C/script>"},
                  {"comment opener", "<!--", "\\x3C!--"},
                  {"line ends", "a\nb\rc", "a\\nb\\rc"},
                  {"line and paragraph separators", "a\xE2\x80\xA8z\xE2\x80\xA9", "a\\u2028z\\u2029"},
                  {"other controls", std::string("\0\t\x1F\x7F", 4), "\\u0000\\u0009\\u001F\\u007F"},
                  {"markup characters other than < stay", "r&d>1", "r&d>1"},
              });
}

TEST(EscapeTest, PercentEncodeUrlChars) {
    CheckRows(PercentEncodeUrlChars, {
                                         {"percent first", "50%23", "50%2523"},
                                         {"hash and question mark", "a#b?c", "a%23b%3Fc"},
                                         {"spaces and quotes stay", "a b'\"&", "a b'\"&"},
                                     });
}

TEST(EscapeTest, LogName) {
    CheckRows(EscapeLogName,
              {
                  {"newline cannot start a forged line", "c1\r\nCourse updated ok", "c1\\r\\nCourse updated ok"},
                  {"tab", "a\tb", "a\\tb"},
                  {"other controls", std::string("\0\x01\x1B\x7F", 4), "\\x00\\x01\\x1B\\x7F"},
                  {"byte that is not UTF-8", "caf\xE9", "caf\\xE9"},
                  {"truncated sequence", "\xE6\x97", "\\xE6\\x97"},
                  {"overlong form", "\xC0\xAF", "\\xC0\\xAF"},
                  {"encoded surrogate", "\xED\xA0\x80", "\\xED\\xA0\\x80"},
                  {"valid characters stay", "o'neil r&d<1> caf\xC3\xA9", "o'neil r&d<1> caf\xC3\xA9"},
              });
}

// Tests that hand the escaped text to the tools that read it.
class EscapeReadBackTest : public TempDirTest {};

// Hostile values put into a document as the writers put them must leave it
// well-formed: plain text in an attribute and in text, markup text in text.
TEST_F(EscapeReadBackTest, XmlOutputIsWellFormed) {
    const std::vector<std::string> values = {"o'neil101",
                                             "r&d<1>",
                                             "say \"hi\"",
                                             "]]>",
                                             "&nbsp; &#0; &#x110000; &#12",
                                             "Fire&#44; Safety &amp; &#x2026;",
                                             "<![CDATA[x]]>",
                                             "<!-- c -->",
                                             "&"};
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<root>\n";
    for (const std::string& value : values) {
        document += "<a plain=\"" + EscapeXmlText(value) + "\" single='" + EscapeXmlText(value) + "'>" +
                    EscapeXmlText(value) + "</a>\n<b>" + EscapeXmlMarkupText(value) + "</b>\n";
    }
    document += "</root>\n";
    WriteBytes(dir() / "doc.xml", document);
    const int status = std::system(("xmllint --noout '" + (dir() / "doc.xml").string() + "'").c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << document;
}

// The escaped values, put into a page's script, must give back the exact
// strings: run them through node.
TEST_F(EscapeReadBackTest, ScriptStringsReadBack) {
    const std::vector<std::string> values = {"o'neil101",
                                             "r&d<1>",
                                             "\"'\\",
                                             "</script>",
                                             "line\nbreak\r\n",
                                             "a\xE2\x80\xA8z\xE2\x80\xA9",
                                             std::string("\0\x01\t\x1F\x7F", 5),
                                             "caf\xC3\xA9 \xF0\x9F\x98\x80"};
    std::string script = "var got = [\n";
    for (const std::string& value : values) {
        script += "'" + EscapeScriptString(value) + "',\n";
        script += "\"" + EscapeScriptString(value) + "\",\n";
    }
    script += "];\nprocess.stdout.write(got.join('\\u0001|'));\n";
    // Nothing left that an HTML parser could take for the end of the element.
    EXPECT_EQ(script.find('<'), std::string::npos);
    const fs::path folder = dir();
    WriteBytes(folder / "page.js", script);
    const int status =
        std::system(("node '" + (folder / "page.js").string() + "' > '" + (folder / "out.txt").string() + "'").c_str());
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << script;
    std::string expected;
    for (std::size_t i = 0; i < values.size(); ++i) {
        expected += (i == 0 ? "" : "\x01|") + values[i] + "\x01|" + values[i];
    }
    EXPECT_EQ(ReadBytes(folder / "out.txt"), expected);
}

}  // namespace
