// qorv-host's command line: what it is asked to do, read from argv.
#ifndef QORV_HOST_OPTIONS_H
#define QORV_HOST_OPTIONS_H

#include <string>
#include <utility>
#include <vector>

struct Options {
  std::string plugin;
  std::string logDirectory;
  std::string directory;    // -C
  std::string sessionFile;  // -f; "-" is standard input
  bool echo = false;
  bool exitStatus = false;     // the exit status tells whether every request succeeded
  bool stopOnFailure = false;  // no request is sent after a failed one
  bool showVersion = false;
  std::vector<std::pair<std::string, std::string>> requests;  // FUNCTION, PARAMETERS
};

// Reads argv into `options`. Returns -1 when qorv-host is to go on, else the
// exit status to end with (after --help, or a usage error already reported).
int ParseArguments(int argc, char** argv, Options* options);

#endif  // QORV_HOST_OPTIONS_H
