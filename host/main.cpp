// qorv-host: the reference host. It loads a plugin as any QORV host would
// (dlopen with RTLD_LOCAL, only the boundary header), opens it, sends it
// requests and prints each answer on its own line.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#if defined(QORV_HAVE_READLINE)
#include <readline/history.h>
#include <readline/readline.h>
#endif

#include "qorv/plugin_base.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
constexpr int kHistoryLines = 1000;

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
    "                   standard input: a prompt with line editing and history when\n"
    "                   it is a terminal (Ctrl-C drops the line, Ctrl-D ends)\n"
    "  --plugin PATH    the plugin library (default: qorv_python.so beside qorv-host,\n"
    "                   or in " QORV_INSTALLED_PLUGIN_DIRECTORY " from it when installed)\n"
    "  --log-dir DIR    the directory given to Open for the plugin's log file\n"
    "                   (default: a temporary directory, removed at exit)\n"
    "  --echo           print each request, after '> ', before its answer\n"
    "  -C DIR           change to DIR first; the plugin reads qorv_python.ini there,\n"
    "                   and relative paths given to the other options start there\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n"
    "\n"
    "exit status: 0 when every request was sent (whatever it answered); 1 when the\n"
    "plugin cannot be loaded or opened, -C or the session file cannot be used, or\n"
    "standard output is closed; 2 for a usage error.\n";

struct Options {
  std::string plugin;
  std::string logDirectory;
  std::string directory;
  std::string sessionFile;
  bool echo = false;
  std::vector<std::pair<std::string, std::string>> requests;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qorv-host: %s\nTry 'qorv-host --help' for more information.\n",
               message.c_str());
  return kExitUsage;
}

int Failure(const std::string& message) {
  std::fprintf(stderr, "qorv-host: %s\n", message.c_str());
  return kExitFailure;
}

// The plugin beside qorv-host (a build tree), or where the installation puts
// it relative to qorv-host ("../lib/qorv").
std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "qorv_python.so";
  const std::string path(self, static_cast<std::size_t>(length));
  const std::string directory = path.substr(0, path.rfind('/') + 1);
  const std::string beside = directory + "qorv_python.so";
  const std::filesystem::path installed = std::filesystem::path(directory) /
                                          QORV_INSTALLED_PLUGIN_DIRECTORY / "qorv_python.so";
  std::error_code error;
  if (std::filesystem::exists(beside, error) || !std::filesystem::exists(installed, error)) {
    return beside;
  }
  return installed.lexically_normal().string();
}

// Returns -1 when the arguments are good, else the exit status.
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
      return 0;
    }
    if (arg == "--version") {
      std::printf("qorv-host %s\n", QORV_VERSION);
      return 0;
    }
    if (arg == "--echo") {
      options->echo = true;
      continue;
    }
    std::string* value = arg == "-f"          ? &options->sessionFile
                         : arg == "--plugin"  ? &options->plugin
                         : arg == "--log-dir" ? &options->logDirectory
                         : arg == "-C"        ? &options->directory
                                              : nullptr;
    if (value == nullptr) return UsageError("unknown option " + arg);
    if (i + 1 >= argc) return UsageError("option " + arg + " needs a value");
    *value = argv[++i];
  }
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

// False once standard output can no longer be written (a closed pipe).
bool Print(const std::string& line) {
  return std::fputs(line.c_str(), stdout) >= 0 && std::fputc('\n', stdout) != EOF &&
         std::fflush(stdout) == 0;
}

// Sends one request with a buffer of the documented size (larger when the
// parameter text needs it) and prints the whole answer. False when the
// answer could not be printed.
bool SendRequest(PluginBase* plugin, const std::string& function, const std::string& parameters,
                 bool echo) {
  // Before anything the request prints itself.
  if (echo && !Print("> " + function + " " + parameters)) return false;
  std::vector<char> buffer(std::max(kQorvParameterBufferSize, parameters.size() + 1));
  std::memcpy(buffer.data(), parameters.c_str(), parameters.size() + 1);
  return Print(plugin->HandleRequest("", function.c_str(), buffer.data()));
}

// "FUNCTION PARAMETERS": the name up to the first space, the raw rest after
// it. Blank and comment lines, leading blanks and all, send nothing.
bool SendLine(PluginBase* plugin, std::string line, bool echo) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  const std::size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos || line[start] == '#') return true;
  line.erase(0, start);
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return SendRequest(plugin, line, "", echo);
  return SendRequest(plugin, line.substr(0, space), line.substr(space + 1), echo);
}

int RunFile(PluginBase* plugin, std::FILE* input, bool echo) {
  std::string line;
  for (;;) {
    line.clear();
    int c;
    while ((c = std::fgetc(input)) != EOF && c != '\n') line.push_back(static_cast<char>(c));
    if (c == EOF && line.empty()) return 0;
    if (!SendLine(plugin, line, echo)) return kExitFailure;
  }
}

#if defined(QORV_HAVE_READLINE)

// The interactive prompt: readline's callback interface under select, so
// that Ctrl-C, caught only while a line is typed, drops that line.
volatile sig_atomic_t interrupted = 0;
void Interrupted(int) { interrupted = 1; }

struct Interactive {
  PluginBase* plugin;
  bool echo;
  bool ended = false;
  bool outputClosed = false;
};
Interactive* session = nullptr;

void LineTyped(char* line) {
  if (line == nullptr) {  // Ctrl-D
    session->ended = true;
    rl_callback_handler_remove();  // no new prompt
    std::fputc('\n', stdout);
    return;
  }
  if (line[0] != '\0') add_history(line);
  // The request runs with the host's own Ctrl-C, like any program's.
  struct sigaction normal {}, typing {};
  normal.sa_handler = SIG_DFL;
  sigaction(SIGINT, &normal, &typing);
  rl_callback_handler_remove();
  if (!SendLine(session->plugin, line, session->echo)) {
    session->outputClosed = session->ended = true;
  }
  std::free(line);
  sigaction(SIGINT, &typing, nullptr);
  if (!session->ended) rl_callback_handler_install("qorv> ", LineTyped);
}

// $XDG_STATE_HOME/qorv-host/history, or ~/.local/state/qorv-host/history.
std::string HistoryFile() {
  std::string state;
  if (const char* xdg = std::getenv("XDG_STATE_HOME"); xdg != nullptr && *xdg == '/') {
    state = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    state = std::string(home) + "/.local/state";
  } else {
    return "";
  }
  std::error_code ignored;
  std::filesystem::create_directories(state + "/qorv-host", ignored);
  return state + "/qorv-host/history";
}

int RunInteractive(PluginBase* plugin, bool echo) {
  const std::string history = HistoryFile();
  stifle_history(kHistoryLines);
  if (!history.empty()) read_history(history.c_str());
  Interactive state{plugin, echo};
  session = &state;
  struct sigaction typing {}, before {};
  typing.sa_handler = Interrupted;  // no SA_RESTART: select returns at once
  sigaction(SIGINT, &typing, &before);
  rl_callback_handler_install("qorv> ", LineTyped);
  while (!state.ended) {
    fd_set input;
    FD_ZERO(&input);
    FD_SET(STDIN_FILENO, &input);
    const int ready = select(STDIN_FILENO + 1, &input, nullptr, nullptr, nullptr);
    if (interrupted) {
      interrupted = 0;
      rl_replace_line("", 0);
      std::fputs("^C\n", stdout);
      rl_on_new_line();
      rl_redisplay();
      continue;
    }
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) break;
    rl_callback_read_char();
  }
  if (!state.ended) rl_callback_handler_remove();
  sigaction(SIGINT, &before, nullptr);
  session = nullptr;
  if (!history.empty() && write_history(history.c_str()) == 0) {
    history_truncate_file(history.c_str(), kHistoryLines);
  }
  return state.outputClosed ? kExitFailure : 0;
}

#else

int RunInteractive(PluginBase* plugin, bool echo) {
  std::fputs("qorv> ", stdout);
  std::fflush(stdout);
  return RunFile(plugin, stdin, echo);
}

#endif

int RunSession(PluginBase* plugin, const std::string& sessionFile, bool echo) {
  if (sessionFile == "-") {
    return isatty(STDIN_FILENO) ? RunInteractive(plugin, echo) : RunFile(plugin, stdin, echo);
  }
  std::FILE* input = std::fopen(sessionFile.c_str(), "r");
  const int result = input != nullptr ? RunFile(plugin, input, echo) : kExitFailure;
  if (input != nullptr) std::fclose(input);
  return result;
}

// A session file that cannot be read is found out before the plugin opens.
int CheckSessionFile(const std::string& sessionFile) {
  if (sessionFile.empty() || sessionFile == "-") return 0;
  struct stat status;
  if (stat(sessionFile.c_str(), &status) != 0) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(EISDIR));
  }
  if (access(sessionFile.c_str(), R_OK) != 0) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(errno));
  }
  return 0;
}

// The log directory given to Open: the chosen one, or a temporary one that
// goes at exit, so that a run leaves nothing behind unless asked.
class LogDirectory {
 public:
  explicit LogDirectory(const std::string& chosen) : path_(chosen) {
    if (!path_.empty()) return;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/qorv-host-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = temporary_ = pattern;
  }
  ~LogDirectory() {
    std::error_code ignored;
    if (!temporary_.empty()) std::filesystem::remove_all(temporary_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string temporary_;
};

}  // namespace

int main(int argc, char** argv) {
  // As the Python interpreter program does: a write to a closed pipe is an
  // error for the code that writes, not the end of the process.
  std::signal(SIGPIPE, SIG_IGN);

  Options options;
  options.plugin = DefaultPluginPath();
  const int status = ParseArguments(argc, argv, &options);
  if (status >= 0) return status;

  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
    return Failure("cannot change to '" + options.directory + "': " + std::strerror(errno));
  }
  if (const int bad = CheckSessionFile(options.sessionFile)) return bad;

  void* library = dlopen(options.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) return Failure(std::string("cannot load plugin: ") + dlerror());
  using GetClassObjectFunction = PluginBase* (*)();
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(dlsym(library, "GetClassObject"));
  if (getClassObject == nullptr) {
    dlclose(library);
    return Failure("plugin '" + options.plugin + "' has no GetClassObject");
  }

  int result = 0;
  {
    const LogDirectory logDirectory(options.logDirectory);
    PluginBase* plugin = getClassObject();
    if (!plugin->Open(logDirectory.path().c_str())) {
      result = Failure("the plugin did not open (log directory '" + logDirectory.path() + "')");
    } else if (!options.sessionFile.empty()) {
      result = RunSession(plugin, options.sessionFile, options.echo);
    } else {
      for (const auto& [function, parameters] : options.requests) {
        if (!SendRequest(plugin, function, parameters, options.echo)) {
          result = kExitFailure;
          break;
        }
      }
    }
    plugin->Close();
  }
  dlclose(library);
  return result;
}
