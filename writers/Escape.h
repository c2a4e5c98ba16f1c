#pragma once

#include <string>
#include <string_view>

// Escaping for values that pass from plain text into markup, script, URLs or
// the patch log. UTF-8 in and out; each returns its input byte for byte when
// it holds none of the characters the function escapes.

// Plain text (folder and file names) for XML text or attribute values:
// & < > " ' become &amp; &lt; &gt; &quot; &apos;.
std::string EscapeXmlText(std::string_view text);

// Text that already holds character references (catalogue text from the
// spreadsheet conversion, with &#44; &quot; &#x2026; and so on) for XML
// element text: each well-formed reference to a character XML allows is kept
// (&#123; &#x1F600; &amp; &lt; &gt; &quot; &apos;), every other & becomes
// &amp;, every < and > becomes &lt; and &gt;. "&nbsp;" is not an XML entity
// and becomes "&amp;nbsp;"; "&#0;" names a character XML forbids and becomes
// "&amp;#0;". Quotes are left as they are.
std::string EscapeXmlMarkupText(std::string_view text);

// A value for a JavaScript string literal in single or double quotes inside
// an HTML script element: \ ' " get a backslash; LF, CR, U+2028 and U+2029
// become \n \r \u2028 \u2029, other controls (U+0000-U+001F, U+007F) \uXXXX;
// "<" becomes \x3C so that "</script>" or "<!--" cannot end or change the
// element.
std::string EscapeScriptString(std::string_view text);

// A name for an href or URL: % # ? become %25 %23 %3F; nothing else changes.
std::string PercentEncodeUrlChars(std::string_view text);

// A name for one line of the patch log: controls (U+0000-U+001F, U+007F)
// become \n \r \t or \xHH (upper-case hex), and each byte that is not part of
// well-formed UTF-8 becomes \xHH, so a name can neither forge a line nor
// smuggle bytes into the log.
std::string EscapeLogName(std::string_view text);
// EscapeLogName of a path spelled as the system shows paths to its users.
std::string EscapeLogPath(const std::string& path);
