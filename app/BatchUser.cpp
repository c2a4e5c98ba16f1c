#include "app/BatchUser.h"

BatchUser::BatchUser(CourseSettings settings, std::optional<std::string> folder, std::FILE* messages, bool showProgress,
                     bool makeUserInstall)
    : m_settings(std::move(settings)),
      m_folder(std::move(folder)),
      m_messages(messages),
      m_showProgress(showProgress),
      m_makeUserInstall(makeUserInstall) {}

std::optional<std::string> BatchUser::ChooseFolder(const std::string& captionText, const std::string& promptText) {
    (void)captionText;
    (void)promptText;
    return m_folder;
}

void BatchUser::ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) {
    (void)style;
    EndProgress();
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

UserInterface::Progress BatchUser::ReportProgress(int done, const std::string& currentFolder) {
    if (!m_showProgress) return Progress::Continue;
    // One line, redrawn in place; long paths are cut from the left.
    constexpr std::size_t kWidth = 60;
    const std::string shown =
        currentFolder.size() > kWidth ? "..." + currentFolder.substr(currentFolder.size() - kWidth) : currentFolder;
    std::fprintf(stderr, "\r\033[K%d patched  %s", done, shown.c_str());
    std::fflush(stderr);
    m_progressShown = true;
    return Progress::Continue;
}

void BatchUser::EndProgress() {
    if (!m_progressShown) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_progressShown = false;
}
