#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a command-line program asks of the system at its start.
namespace platform {

// Readies the process for a run that writes files and standard output: a
// reader of standard output that went away, or a file-size limit, makes the
// write fail (and the run go on) rather than end the process; standard
// output carries the program's bytes as they are.
void PrepareCommandLineProcess();

// Lets the process keep as many files open as the system allows it: a run
// keeps each staged file open until its commit, and commits fewer, larger
// batches the more it may hold.
void RaiseOpenFileLimit();

// How many bytes a run stages before it commits: the default, or
// QUARVEL_COMMIT_BYTES when set (the power-cut tests make small runs commit
// many times, so that a cut can fall between commits).
std::uint64_t CommitBytesFromEnvironment(std::uint64_t fallback);

// The program's arguments (without its own name) as UTF-8 text.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Whether standard error is shown on a terminal, where a progress line can be redrawn.
bool StandardErrorIsTerminal();

}  // namespace platform
