#include <cstdio>

#include "app/BatchUser.h"
#include "support/TestSupport.h"

namespace {

// What a BatchUser wrote to a stream of its own, read back when it is closed.
class CapturedStream {
public:
    explicit CapturedStream(const fs::path& path) : m_path(path), m_file(std::fopen(path.string().c_str(), "w+b")) {}
    ~CapturedStream() {
        if (m_file) std::fclose(m_file);
    }
    CapturedStream(const CapturedStream&) = delete;
    CapturedStream& operator=(const CapturedStream&) = delete;
    std::FILE* get() const { return m_file; }
    std::string Text() {
        std::fflush(m_file);
        return ReadBytes(m_path);
    }

private:
    fs::path m_path;
    std::FILE* m_file;
};

class BatchUserTest : public TempDirTest {};

}  // namespace

TEST_F(BatchUserTest, AYesNoQuestionIsPrintedAsAMessageBoxAndAnsweredNo) {
    CapturedStream messages(dir() / "stdout.txt");
    BatchUser user(CourseSettings{}, std::nullopt, messages.get(), false, false);
    EXPECT_FALSE(user.AskYesNo("Take back the run of 12/09/2026?", "Undo"));
    EXPECT_EQ(messages.Text(), "Undo: Take back the run of 12/09/2026?\n");
    EXPECT_EQ(user.MessagesShown(), 1);
    // Its settings come from the command line, never an Undo press.
    EXPECT_TRUE(user.ChooseSettings().has_value());
    EXPECT_FALSE(user.UndoLastRunChosen());
}

TEST_F(BatchUserTest, TheProgressLineCountsTowardsTheTotalAndGivesWayToMessageBoxes) {
    CapturedStream messages(dir() / "stdout.txt");
    CapturedStream progress(dir() / "stderr.txt");
    BatchUser user(CourseSettings{}, std::nullopt, messages.get(), true, false, progress.get());
    user.SetProgressTotal(3);
    user.ReportProgress(1, "/courses/a");
    user.ShowMessage("Course needs to be converted to UTF-8 in Build: 'b'.", "Course Error", MessageStyle::Stop);
    user.ReportProgress(2, "/courses/c");
    user.ReportProgress(4, "/courses/" + std::string(70, 'd'));  // more than counted, and cut from the left
    user.EndProgress();
    // The next job without a count of its own.
    user.ReportProgress(1, "/vod/e");
    user.EndProgress();
    EXPECT_EQ(progress.Text(),
              "\r\033[K1 of 3 patched  /courses/a"
              "\r\033[K"
              "\r\033[K2 of 3 patched  /courses/c"
              "\r\033[K4 of 4 patched  ..." +
                  std::string(60, 'd') +
                  "\r\033[K"
                  "\r\033[K1 patched  /vod/e"
                  "\r\033[K");
    EXPECT_EQ(messages.Text(), "Course Error: Course needs to be converted to UTF-8 in Build: 'b'.\n");
}
