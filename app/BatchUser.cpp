#include "app/BatchUser.h"

BatchUser::BatchUser(CourseSettings settings, std::optional<std::string> folder, std::FILE* messages, bool showProgress,
                     bool makeUserInstall, std::FILE* progress)
    : m_settings(std::move(settings)),
      m_folder(std::move(folder)),
      m_messages(messages),
      m_showProgress(showProgress),
      m_makeUserInstall(makeUserInstall),
      m_progress(progress) {}

std::optional<std::string> BatchUser::ChooseFolder(const std::string& captionText, const std::string& promptText) {
    (void)captionText;
    (void)promptText;
    return m_folder;
}

void BatchUser::ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) {
    (void)style;
    // A box in the middle of a job (a course error) has the line to itself; the job's progress goes on after it.
    ClearProgressLine();
    ++m_messagesShown;
    // A failed write (a reader that went away) is ignored: the run goes on.
    std::fprintf(m_messages, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(m_messages);
}

bool BatchUser::AskYesNo(const std::string& text, const std::string& caption) {
    ShowMessage(text, caption, MessageStyle::Plain);
    return false;
}

bool BatchUser::AcceptPerUserInstall(const PerUserInstallOffer& offer) {
    // Not a message box: standard output keeps only those.
    if (m_makeUserInstall) {
        std::fprintf(stderr,
                     "quarvel-batch: the install folder '%s' cannot be written; making your own install folder '%s' "
                     "from it, recorded in '%s'\n",
                     offer.installFolder.c_str(), offer.perUserFolder.c_str(), offer.perUserStore.c_str());
    } else {
        std::fprintf(stderr,
                     "quarvel-batch: the install folder '%s' cannot be written, so the patch log, catalogues and VOD "
                     "packages cannot be written there; run with --make-user-install to make your own install folder "
                     "'%s' from it and record it in '%s'\n",
                     offer.installFolder.c_str(), offer.perUserFolder.c_str(), offer.perUserStore.c_str());
    }
    std::fflush(stderr);
    return m_makeUserInstall;
}

void BatchUser::SetProgressTotal(int total) {
    m_expected = total;
    m_started = std::chrono::steady_clock::now();
}

UserInterface::Progress BatchUser::ReportProgress(int done, const std::string& currentFolder) {
    if (!m_showProgress) return Progress::Continue;
    const ProgressView view = DescribeProgress(
        done, m_expected,
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_started));
    // One line, redrawn in place; long paths are cut from the left.
    constexpr std::size_t kWidth = 60;
    const std::string shown =
        currentFolder.size() > kWidth ? "..." + currentFolder.substr(currentFolder.size() - kWidth) : currentFolder;
    const std::string count = view.total == kTotalUnknown ? std::to_string(done) : view.count;
    const std::string timeLeft = view.timeLeft.empty() ? "" : ", " + view.timeLeft;
    std::fprintf(m_progress, "\r\033[K%s patched%s  %s", count.c_str(), timeLeft.c_str(), shown.c_str());
    std::fflush(m_progress);
    m_progressShown = true;
    return Progress::Continue;
}

void BatchUser::EndProgress() {
    ClearProgressLine();
    // The next job, if any, counts afresh.
    m_expected = kTotalUnknown;
}

void BatchUser::ClearProgressLine() {
    if (!m_progressShown) return;
    std::fprintf(m_progress, "\r\033[K");
    std::fflush(m_progress);
    m_progressShown = false;
}
