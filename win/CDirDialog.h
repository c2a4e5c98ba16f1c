#pragma once

#include <windows.h>

#include <string>

// The folder picker: the shell's folder browser, opened at the desktop with
// nothing preselected; it remembers nothing. Paths are in the core's
// spelling ("C:/courses"; a drive root keeps its "/": "C:/").
class CDirDialog {
public:
    CDirDialog() = default;
    virtual ~CDirDialog() = default;
    CDirDialog(const CDirDialog&) = delete;
    CDirDialog& operator=(const CDirDialog&) = delete;

    // Called with the path of every item the user selects (empty when it has
    // none); says whether OK is enabled. This one always enables it.
    virtual bool OnSelectionChanged(const std::string& path);

    // Shows the browser and waits. True with `chosenPath` set after OK on a
    // folder with a file-system path; false after Cancel, for an item without
    // one, or when the browser could not start.
    bool ChooseFolder();

    std::string captionText;  // the window title; the shell's title when empty
    std::string promptText;   // shown above the tree; "Open" when empty
    std::string chosenPath;

private:
    static int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);
};
