#include "catalogues/LineReader.h"
#include "support/TestSupport.h"

namespace {

using Lines = std::vector<std::pair<std::uint64_t, std::string>>;

Lines ReadAll(LineReader reader) {
    Lines lines;
    std::string_view line;
    while (reader.Next(line)) lines.emplace_back(reader.LineOffset(), line);
    return lines;
}

TEST(LineReaderTest, GivesEachLineAndWhereItStartsWhateverTheBufferSize) {
    const std::string longLine(5000, 'y');
    const struct {
        const char* name;
        std::string text;
        Lines lines;
    } cases[] = {
        {"empty", "", {}},
        {"one LF", "\n", {{0, ""}}},
        {"no LF at the end", "a\nbc", {{0, "a"}, {2, "bc"}}},
        {"empty lines and CRs kept",
         "\n\nab\r\n" + longLine + "\nc\n\n",
         {{0, ""}, {1, ""}, {2, "ab\r"}, {6, longLine}, {5007, "c"}, {5009, ""}}},
        {"one long line", longLine, {{0, longLine}}},
    };
    for (const auto& c : cases) {
        for (const std::size_t buffer : {1, 2, 3, 64, 1 << 20}) {
            SCOPED_TRACE(std::string(c.name) + ", buffer " + std::to_string(buffer));
            EXPECT_EQ(ReadAll(LineReader(ReadFrom(c.text), 0, buffer)), c.lines);
        }
    }
    // From a line's offset on, as a catalogue entry is read again.
    const std::string text = "k1\tone\nk2\ttwo\n";
    EXPECT_EQ(ReadAll(LineReader(ReadFrom(text), 7, 2)), (Lines{{7, "k2\ttwo"}}));
}

TEST(LineReaderTest, AFailedReadEndsTheLinesWithItsReason) {
    const std::string text = "first\nsecond\nthird\n";
    const auto failing = [&text](std::uint64_t offset, char* buffer, std::size_t length, std::size_t& got) {
        if (offset >= 8) return std::make_error_code(std::errc::io_error);
        return ReadFrom(text)(offset, buffer, std::min<std::size_t>(length, 8 - offset), got);
    };
    LineReader reader(failing, 0, 4);
    std::string_view line;
    ASSERT_TRUE(reader.Next(line));
    EXPECT_EQ(line, "first");
    EXPECT_FALSE(reader.Next(line));
    EXPECT_EQ(reader.Error(), std::errc::io_error);
}

}  // namespace
