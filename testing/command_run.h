// Running the project's programs from a test, as a user runs them.
#pragma once

#include <filesystem>
#include <string>

/// The whole file, or "" when it cannot be read.
std::string ReadFile(const std::filesystem::path &path);
/// Writes `text` as the whole file.
void WriteFile(const std::filesystem::path &path, const std::string &text);

/// Runs `command` through the shell with its standard output in `out` and
/// its standard error in `out` + ".err"; the exit status, or -1 when the
/// command did not exit normally.
int RunCommand(const std::string &command, const std::filesystem::path &out);
