// Running the tools omptarget-cc drives.
#pragma once

#include <string>
#include <vector>

// Runs Argv (the first element found on PATH when it has no slash) and waits; its exit status,
// or 127 when it could not be started. Prints the command first when Verbose.
int runCommand(const std::vector<std::string> &Argv, bool Verbose);

// The file's contents, or false.
bool readFile(const std::string &Path, std::string &Text);
bool writeFile(const std::string &Path, const std::string &Text);
