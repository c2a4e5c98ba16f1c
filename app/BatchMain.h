#pragma once

#include <string>

// quarvel-batch [OPTION]... [NAME=VALUE]... [FOLDER]
// Exit status: 0 the run ran; 1 the run could not start; 2 bad arguments;
// 3 the run ran but something was not done as asked.
int RunBatch(int argc, char** argv);

// What --help prints, built from the settings field table.
std::string BatchHelpText();
// What --version prints.
std::string BatchVersionText();
// The manual page quarvel-batch(1): the help text's content in roff.
std::string BatchManPage();
