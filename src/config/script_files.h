// Finding a script file in the script directories and reading it whole.
// Scripts are read into memory here and compiled from there: a C stream of
// the plugin's must never reach the Python library, whose C runtime may be
// another one.
#ifndef QORV_CONFIG_SCRIPT_FILES_H
#define QORV_CONFIG_SCRIPT_FILES_H

#include <string>
#include <vector>

// Reads the whole of `path` in binary mode into *text. Only a regular file
// counts: a directory cannot be read as a script, and opening a FIFO would
// block the host until some writer came. False when it is not one or cannot
// be read.
bool ReadScriptFile(const char* path, std::string* text);

// Joins each directory, in list order, with `fileName` (used as it is, never
// trimmed) and reads the first script found. Returns its path, or "" when no
// directory holds a readable one.
std::string FindScriptFile(const std::vector<std::string>& directories, const char* fileName,
                           const char* separator, std::string* text);

#endif  // QORV_CONFIG_SCRIPT_FILES_H
