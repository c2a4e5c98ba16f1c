#pragma once

#include <string>

// The folder picker: a tree of the file system's folders that opens at the
// user's home folder with nothing preselected, and remembers nothing.
class CDirDialog {
public:
    CDirDialog() = default;
    virtual ~CDirDialog() = default;
    CDirDialog(const CDirDialog&) = delete;
    CDirDialog& operator=(const CDirDialog&) = delete;

    // Called with the path of every folder the user selects; says whether OK
    // is enabled. This one always enables it.
    virtual bool OnSelectionChanged(const std::string& path);

    // Shows the picker and waits. True with `chosenPath` set after OK; false
    // after Cancel or when no folder was selected.
    bool ChooseFolder();

    std::string captionText;  // the window title; the platform's title when empty
    std::string promptText;   // shown above the tree; "Open" when empty
    std::string chosenPath;   // "/" for the root, no trailing "/" otherwise
};
