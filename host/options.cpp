#include "options.h"

#include <cstdio>

#include "exit_status.h"

namespace {

const char kUsage[] =
    "usage: qorv-host [options] FUNCTION PARAMETERS [FUNCTION PARAMETERS ...]\n"
    "       qorv-host [options] -f FILE\n"
    "\n"
    "Loads the plugin, opens it, sends each request and prints each answer on a\n"
    "line of its own, then closes and unloads the plugin. Options end at the\n"
    "first FUNCTION or at '--'.\n"
    "\n"
    "options:\n"
    "  -f FILE          read requests from FILE, one a line: the function name,\n"
    "                   one space, the parameter text; blank lines and lines whose\n"
    "                   first non-blank character is '#' are skipped. '-' reads\n"
    "                   standard input: a prompt when it is a terminal\n"
    "  --plugin PATH    the plugin library (default: qorv_python.so beside qorv-host,\n"
    "                   or in " QORV_INSTALLED_PLUGIN_DIRECTORY " from it when installed)\n"
    "  --log-dir DIR    the directory given to Open for the plugin's log file\n"
    "                   (default: a temporary directory, removed at exit)\n"
    "  -C DIR           change to DIR first; the plugin reads qorv_python.ini there,\n"
    "                   and relative paths given to the other options start there\n"
    "  --echo           print each request, after '> ', before its answer\n"
    "  --exit-status    end with status 3 when a request failed: it answered FALSE,\n"
    "                   or NONE with a 'qorv_python: ' reason on standard error\n"
    "  --stop-on-failure  send no request after a failed one (implies --exit-status)\n"
    "  -h, --help       show this help\n"
    "  --version        show the versions of qorv-host and of the embedded Python\n"
    "Long options take their value after '=' or as the next argument; -f and -C\n"
    "also straight after the letter (-fFILE).\n"
    "\n"
    "A failure from a session file is located on standard error: its reason lines\n"
    "start with FILE:LINE: (<stdin>:LINE: for standard input), and a FALSE that\n"
    "printed no reason gets a line 'FILE:LINE: qorv-host: FUNCTION answered FALSE'.\n"
    "\n"
    "The prompt: 'help' lists the requests; 'exit', 'quit' or Ctrl-D leaves; Ctrl-C\n"
    "drops the line being typed. Ctrl-C while a request runs asks the plugin to stop\n"
    "it; a second Ctrl-C within a second ends qorv-host.\n"
    "\n"
    "exit status: 0 when every request was sent (and, with --exit-status, every one\n"
    "succeeded); 3 with --exit-status when a request failed; 1 when the plugin\n"
    "cannot be loaded or opened, -C or the session file cannot be used, or standard\n"
    "output is closed; 2 for a usage error.\n";

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qorv-host: %s\nTry 'qorv-host --help' for more information.\n",
               message.c_str());
  return kExitUsage;
}

// The field that an option with a value sets, or null.
std::string* ValueOf(const std::string& name, Options* options) {
  if (name == "-f") return &options->sessionFile;
  if (name == "-C") return &options->directory;
  if (name == "--plugin") return &options->plugin;
  if (name == "--log-dir") return &options->logDirectory;
  return nullptr;
}

// The field that an option without a value sets, or null.
bool* FlagOf(const std::string& name, Options* options) {
  if (name == "--echo") return &options->echo;
  if (name == "--exit-status") return &options->exitStatus;
  if (name == "--stop-on-failure") return &options->stopOnFailure;
  if (name == "--version") return &options->showVersion;
  return nullptr;
}

}  // namespace

int ParseArguments(int argc, char** argv, Options* options) {
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg.size() < 2 || arg[0] != '-') break;  // the first FUNCTION
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return kExitSuccess;
    }
    // "--name=value", "-fvalue" and "-Cvalue" carry their value; other
    // forms take the next argument.
    std::string name = arg;
    std::string value;
    bool attached = false;
    if (arg.compare(0, 2, "--") == 0) {
      const std::size_t equals = arg.find('=');
      if (equals != std::string::npos) {
        name = arg.substr(0, equals);
        value = arg.substr(equals + 1);
        attached = true;
      }
    } else if (arg.size() > 2) {
      name = arg.substr(0, 2);
      value = arg.substr(2);
      attached = true;
    }
    if (bool* flag = FlagOf(name, options)) {
      if (attached) return UsageError("option " + name + " takes no value");
      *flag = true;
      continue;
    }
    std::string* field = ValueOf(name, options);
    if (field == nullptr) return UsageError("unknown option " + arg);
    if (!attached) {
      if (i + 1 >= argc) return UsageError("option " + name + " needs a value");
      value = argv[++i];
    }
    if (value.empty()) return UsageError("option " + name + " needs a value");
    *field = value;
  }
  if (options->stopOnFailure) options->exitStatus = true;
  if (options->showVersion) return -1;
  const int positional = argc - i;
  if (positional % 2 != 0) return UsageError("requests come in pairs: FUNCTION PARAMETERS");
  if (positional == 0 && options->sessionFile.empty()) {
    return UsageError("no requests: give FUNCTION PARAMETERS pairs or -f FILE");
  }
  if (positional > 0 && !options->sessionFile.empty()) {
    return UsageError("give requests as arguments or with -f, not both");
  }
  for (; i < argc; i += 2) options->requests.emplace_back(argv[i], argv[i + 1]);
  return -1;
}
