// qorv-host: the reference host. It loads a plugin as any QORV host would
// (dlopen with RTLD_LOCAL, only the boundary header), opens it, sends it
// requests and prints each answer on its own line.
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
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

const char kUsage[] =
    "usage: qorv-host [options] FUNCTION PARAMETERS [FUNCTION PARAMETERS ...]\n"
    "       qorv-host [options] -f FILE\n"
    "\n"
    "Loads the plugin, opens it, sends each request and prints each answer on a\n"
    "line of its own, then closes and unloads the plugin.\n"
    "\n"
    "options:\n"
    "  -f FILE          read requests from FILE, one a line: the function name,\n"
    "                   one space, the parameter text; lines starting with '#'\n"
    "                   and empty lines are skipped. '-' reads standard input\n"
    "                   (an interactive prompt when it is a terminal)\n"
    "  --plugin PATH    the plugin library (default: qorv_python.so beside qorv-host)\n"
    "  --log-dir DIR    the directory given to Open for the log file (default: .)\n"
    "  --echo           print each request, after '> ', before its answer\n"
    "  -C DIR           change to DIR first; the plugin reads qorv_python.ini there,\n"
    "                   and relative paths given to the other options start there\n"
    "  -h, --help       show this help\n"
    "  --version        show the version\n";

struct Options {
  std::string plugin;
  std::string logDirectory = ".";
  std::string directory;
  std::string sessionFile;
  bool echo = false;
  std::vector<std::pair<std::string, std::string>> requests;
};

int UsageError(const std::string& message) {
  std::fprintf(stderr, "qorv-host: %s\n%s", message.c_str(),
               "Try 'qorv-host --help' for more information.\n");
  return kExitUsage;
}

std::string DefaultPluginPath() {
  char self[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
  if (length <= 0) return "qorv_python.so";
  std::string path(self, static_cast<std::size_t>(length));
  return path.substr(0, path.rfind('/') + 1) + "qorv_python.so";
}

// Returns -1 when the arguments are good, else the exit status.
int ParseArguments(int argc, char** argv, Options* options) {
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= argc) return false;
      *out = argv[++i];
      return true;
    };
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
    if (arg == "-f" || arg == "--plugin" || arg == "--log-dir" || arg == "-C") {
      std::string* target = arg == "-f"          ? &options->sessionFile
                            : arg == "--plugin"  ? &options->plugin
                            : arg == "--log-dir" ? &options->logDirectory
                                                 : &options->directory;
      if (!value(target)) return UsageError("option " + arg + " needs a value");
      continue;
    }
    if (arg == "--") {
      for (++i; i < argc; ++i) positional.emplace_back(argv[i]);
      break;
    }
    if (arg.size() > 1 && arg[0] == '-') return UsageError("unknown option " + arg);
    positional.push_back(arg);
  }
  if (positional.size() % 2 != 0) {
    return UsageError("requests come in pairs: FUNCTION PARAMETERS");
  }
  if (positional.empty() && options->sessionFile.empty()) {
    return UsageError("no requests: give FUNCTION PARAMETERS pairs or -f FILE");
  }
  if (!positional.empty() && !options->sessionFile.empty()) {
    return UsageError("give requests as arguments or with -f, not both");
  }
  for (std::size_t k = 0; k < positional.size(); k += 2) {
    options->requests.emplace_back(positional[k], positional[k + 1]);
  }
  return -1;
}

// Sends one request with a buffer of the documented size (larger when the
// parameter text needs it) and prints the whole answer.
void SendRequest(PluginBase* plugin, const std::string& function, const std::string& parameters,
                 bool echo) {
  if (echo) {
    std::printf("> %s %s\n", function.c_str(), parameters.c_str());
    std::fflush(stdout);  // before anything the request prints
  }
  std::vector<char> buffer(std::max(kQorvParameterBufferSize, parameters.size() + 1));
  std::memcpy(buffer.data(), parameters.c_str(), parameters.size() + 1);
  const char* answer = plugin->HandleRequest("", function.c_str(), buffer.data());
  std::printf("%s\n", answer);
  std::fflush(stdout);
}

// "FUNCTION PARAMETERS": the name up to the first space, the raw rest after it.
void SendLine(PluginBase* plugin, std::string line, bool echo) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty() || line[0] == '#') return;
  const std::size_t space = line.find(' ');
  if (space == std::string::npos) return SendRequest(plugin, line, "", echo);
  SendRequest(plugin, line.substr(0, space), line.substr(space + 1), echo);
}

bool ReadLine(std::FILE* input, bool interactive, std::string* line) {
#if defined(QORV_HAVE_READLINE)
  if (interactive) {
    char* read = readline("qorv> ");
    if (read == nullptr) return false;
    if (*read != '\0') add_history(read);
    line->assign(read);
    std::free(read);
    return true;
  }
#else
  if (interactive) {
    std::fputs("qorv> ", stdout);
    std::fflush(stdout);
  }
#endif
  line->clear();
  int c;
  while ((c = std::fgetc(input)) != EOF && c != '\n') line->push_back(static_cast<char>(c));
  return c != EOF || !line->empty();
}

int RunSession(PluginBase* plugin, const std::string& sessionFile, bool echo) {
  const bool fromStdin = sessionFile == "-";
  std::FILE* input = fromStdin ? stdin : std::fopen(sessionFile.c_str(), "r");
  if (input == nullptr) {
    std::fprintf(stderr, "qorv-host: cannot read session file '%s': %s\n", sessionFile.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }
  const bool interactive = fromStdin && isatty(fileno(stdin));
  std::string line;
  while (ReadLine(input, interactive, &line)) SendLine(plugin, line, echo);
  if (!fromStdin) std::fclose(input);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.plugin = DefaultPluginPath();
  const int status = ParseArguments(argc, argv, &options);
  if (status >= 0) return status;

  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
    std::fprintf(stderr, "qorv-host: cannot change to '%s': %s\n", options.directory.c_str(),
                 std::strerror(errno));
    return kExitFailure;
  }

  void* library = dlopen(options.plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "qorv-host: cannot load plugin: %s\n", dlerror());
    return kExitFailure;
  }
  using GetClassObjectFunction = PluginBase* (*)();
  auto getClassObject = reinterpret_cast<GetClassObjectFunction>(dlsym(library, "GetClassObject"));
  if (getClassObject == nullptr) {
    std::fprintf(stderr, "qorv-host: plugin '%s' has no GetClassObject\n", options.plugin.c_str());
    dlclose(library);
    return kExitFailure;
  }

  PluginBase* plugin = getClassObject();
  int result = 0;
  if (!plugin->Open(options.logDirectory.c_str())) {
    std::fprintf(stderr, "qorv-host: plugin failed to open (log directory '%s')\n",
                 options.logDirectory.c_str());
    result = kExitFailure;
  } else if (!options.sessionFile.empty()) {
    result = RunSession(plugin, options.sessionFile, options.echo);
  } else {
    for (const auto& [function, parameters] : options.requests) {
      SendRequest(plugin, function, parameters, options.echo);
    }
  }
  plugin->Close();
  dlclose(library);
  return result;
}
