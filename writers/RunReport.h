#pragma once

#include <string>
#include <vector>

// The run report: the text the patch log receives (one line per patched
// bundle, and the bundle notes), and how many of its notes say that something
// was not done as asked.
struct RunReport {
    std::string updatedList;
    int problemNotes = 0;
    // The files or folders that notes of AddProblemAt named, until the run
    // takes them: files are put in place in batches that span bundles, so a
    // failure found then tells by its path which bundle it belongs to.
    std::vector<std::string> problemPaths;
    // Each note of something not done, as added (a preview lists them).
    std::vector<std::string> problems;

    // Adds a note of something not done as asked; `note` ends with a line feed.
    void AddProblem(const std::string& note) {
        updatedList += note;
        ++problemNotes;
        problems.push_back(note);
    }
    // The same, for something not done to `path`.
    void AddProblemAt(const std::string& path, const std::string& note) {
        AddProblem(note);
        problemPaths.push_back(path);
    }
};
