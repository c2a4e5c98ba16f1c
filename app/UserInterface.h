#pragma once

#include <optional>
#include <string>

#include "settings/CourseSettings.h"

// An install folder the person cannot write, and the folder of their own that
// a run can make from it.
struct PerUserInstallOffer {
    std::string installFolder;  // as the store in use names it
    std::string perUserFolder;  // ${XDG_DATA_HOME:-~/.local/share}/quarvel/install
    std::string perUserStore;   // where perUserFolder would be recorded
};

// Message box styles: an OK button, system-modal; with or without the stop icon.
enum class MessageStyle : unsigned { Stop = 0x1010, Plain = 0x1000 };

// Everything a run asks of the person at the screen. The desktop program, the
// batch program and the tests each answer it their own way.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // The settings dialog: the record after OK, nothing after Cancel or
    // "Undo last run…".
    virtual std::optional<CourseSettings> ChooseSettings() = 0;
    // After ChooseSettings gave nothing: true when the person pressed "Undo
    // last run…" rather than Cancel.
    virtual bool UndoLastRunChosen() { return false; }
    // The folder browser: the chosen folder, nothing after Cancel.
    virtual std::optional<std::string> ChooseFolder(const std::string& captionText, const std::string& promptText) = 0;
    // A modal message box; returns when it is dismissed.
    virtual void ShowMessage(const std::string& text, const std::string& caption, MessageStyle style) = 0;
    // Whether to make the per-user install folder of the offer and go on with
    // it; asked before the settings dialog.
    virtual bool AcceptPerUserInstall(const PerUserInstallOffer& offer) = 0;
    // A modal Yes/No box: true for Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) {
        (void)text;
        (void)caption;
        return false;
    }

    // Progress of a long job: called after each bundle (or video) with how many
    // are done and the folder just done. Answering Stop ends the job before
    // the next one; the patch log then says where the run stopped.
    enum class Progress { Continue, Stop };
    // How many bundles (or videos) the job expects, counted before it starts:
    // an estimate that `done` may reach but never passes. Called at most once,
    // before the first ReportProgress.
    virtual void SetProgressTotal(int total) { (void)total; }
    virtual Progress ReportProgress(int done, const std::string& currentFolder) {
        (void)done;
        (void)currentFolder;
        return Progress::Continue;
    }
    virtual void EndProgress() {}
};
