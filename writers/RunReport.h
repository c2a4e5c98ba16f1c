#pragma once

#include <string>

// The run report: the text the patch log receives (one line per patched
// bundle, and the bundle notes), and how many of its notes say that something
// was not done as asked.
struct RunReport {
    std::string updatedList;
    int problemNotes = 0;

    // Adds a note of something not done as asked; `note` ends with a line feed.
    void AddProblem(const std::string& note) {
        updatedList += note;
        ++problemNotes;
    }
};
