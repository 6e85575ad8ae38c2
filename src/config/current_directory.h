// The current directory, and relative paths fixed against it. The settings
// name files and directories relative to where the host runs; they are made
// absolute once, since Python code or the host may change directory later.
#ifndef QORV_CONFIG_CURRENT_DIRECTORY_H
#define QORV_CONFIG_CURRENT_DIRECTORY_H

#include <string>

// The current directory; empty when it cannot be found.
std::string CurrentDirectory();

// `path` below the current directory as it is now, joined with `separator`
// (no normalisation). As it is when it is absolute, when it names a drive or
// starts at the root of the current one (Windows: "C:x", "\x"), and when the
// current directory cannot be found.
std::string BelowCurrentDirectory(const std::string& path, const char* separator);

#endif  // QORV_CONFIG_CURRENT_DIRECTORY_H
