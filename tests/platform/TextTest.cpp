#include <gtest/gtest.h>

#include "platform/Text.h"

using namespace platform;

TEST(TextTest, Utf8DecodingReplacesIllFormedSequences) {
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));
    EXPECT_FALSE(IsValidUtf8("caf\xE9"));
    EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // surrogate
    EXPECT_EQ(DecodeUtf8Lossy("a\xE9z"), "a\xEF\xBF\xBDz");
    EXPECT_EQ(DecodeUtf8Lossy("\xE2\x82"), "\xEF\xBF\xBD");  // truncated sequence: one replacement
    EXPECT_EQ(DecodeUtf8Lossy("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
}

TEST(TextTest, SingleByteDecodings) {
    EXPECT_EQ(Latin1ToUtf8("\xE9\x93"), "\xC3\xA9\xC2\x93");
    EXPECT_EQ(Cp1252ToUtf8("\x93q\x94\x85\x81\xA0"), "\xE2\x80\x9Cq\xE2\x80\x9D\xE2\x80\xA6\xC2\x81\xC2\xA0");
}

TEST(TextTest, Utf16LeEncoding) {
    EXPECT_EQ(Utf8ToUtf16Le("A\xF0\x9F\x98\x80"), std::string("A\0\x3D\xD8\x00\xDE", 6));
    EXPECT_EQ(Utf8ToUtf16Le("\xFF"), std::string("\xFD\xFF", 2));
}

TEST(TextTest, CaseMappingAndCodePointCounting) {
    EXPECT_EQ(ToLowerText("ABC_Vid_\xC3\x89t\xC3\xA9"), "abc_vid_\xC3\xA9t\xC3\xA9");
    EXPECT_TRUE(EqualsIgnoringCase("Interface.XML", "interface.xml"));
    EXPECT_FALSE(EqualsIgnoringCase("a", "ab"));
    EXPECT_TRUE(EqualsIgnoringAsciiCase("ENGLISH", "english"));
    EXPECT_FALSE(EqualsIgnoringAsciiCase("ESPA\xC3\x91OL", "espa\xC3\xB1ol"));
    EXPECT_EQ(FirstCodePoints("\xC3\xA9\xC3\xA9\xC3\xA9x", 3), "\xC3\xA9\xC3\xA9\xC3\xA9");
    EXPECT_EQ(CodePointSubstring("hrs_fin_101", 4, 3), "fin");
    EXPECT_EQ(CodePointSubstring("hrs", 4, 3), "");
}

TEST(TextTest, ReplaceAllDoesNotRescanInsertedText) {
    EXPECT_EQ(ReplaceAll("a&b&", "&", "&amp;"), "a&amp;b&amp;");
    EXPECT_EQ(ReplaceAll("&quot;&quot;&quot;&quot;", "&quot;&quot;", "&quot;"), "&quot;&quot;");
    EXPECT_EQ(FormatInt(3, 2), "03");
    EXPECT_EQ(FormatInt(-1), "-1");
    EXPECT_EQ(TrimAsciiSpace(" \t\v x \r\n"), "x");
}
