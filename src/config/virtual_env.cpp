#include "config/virtual_env.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace fs = std::filesystem;

namespace {

std::string Trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// pyvenv.cfg: "key = value" lines.
std::map<std::string, std::string> ReadConfiguration(const fs::path& file) {
  std::map<std::string, std::string> values;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t equals = line.find('=');
    if (equals != std::string::npos) values[Trimmed(line.substr(0, equals))] = Trimmed(line.substr(equals + 1));
  }
  return values;
}

// "3.11.2" or "3.11.2.final.0" as "3.11".
std::string MajorMinor(const std::string& version) {
  const std::size_t first = version.find('.');
  if (first == std::string::npos) return version;
  const std::size_t second = version.find('.', first + 1);
  return version.substr(0, second);
}

bool SameDirectory(const fs::path& a, const fs::path& b) {
  std::error_code error;
  return fs::equivalent(a, b, error);
}

bool IsProgram(const fs::path& path) {
  std::error_code error;
  return fs::is_regular_file(path, error);  // a link to the base program counts too
}

}  // namespace

bool FindVirtualEnvironment(const std::string& directory, const std::string& version,
                            const std::string& installationProgram, VirtualEnvironment* found,
                            std::string* reason) {
  const fs::path root(directory);
  const fs::path configuration = root / "pyvenv.cfg";
  std::error_code error;
  if (!fs::is_regular_file(configuration, error)) {
    const std::string program = installationProgram.empty() ? "python" + version : installationProgram;
    *reason = "'" + directory + "' is no virtual environment: it has no pyvenv.cfg (make one with '" +
              (version.compare(0, 2, "2.") == 0 ? "virtualenv -p " + program + " DIR'"
                                                 : program + " -m venv DIR'") + ")";
    return false;
  }
  const std::map<std::string, std::string> values = ReadConfiguration(configuration);
  const auto value = [&](const char* key) {
    const auto found = values.find(key);
    return found != values.end() ? found->second : std::string();
  };
  std::string made = value("version");
  if (made.empty()) made = value("version_info");
  if (MajorMinor(made) != version) {
    *reason = "the virtual environment '" + directory + "' was made by Python " +
              (made.empty() ? std::string("of an unknown version") : MajorMinor(made)) +
              ", and the plugin embeds Python " + version;
    return false;
  }
  const std::string home = value("home");
  if (!home.empty() && !installationProgram.empty() &&
      !SameDirectory(home, fs::path(installationProgram).parent_path())) {
    *reason = "the virtual environment '" + directory + "' was made by the Python in '" + home +
              "', and the plugin embeds the one in '" +
              fs::path(installationProgram).parent_path().string() + "'";
    return false;
  }
#if defined(_WIN32)
  const fs::path candidates[] = {root / "Scripts" / "python.exe"};
#else
  const fs::path candidates[] = {root / "bin" / ("python" + version),
                                 root / "bin" / ("python" + version.substr(0, version.find('.'))),
                                 root / "bin" / "python"};
#endif
  for (const fs::path& candidate : candidates) {
    if (!IsProgram(candidate)) continue;
    found->directory = directory;
    found->program = candidate.string();
    return true;
  }
  *reason = "the virtual environment '" + directory + "' has no interpreter program (" +
            candidates[0].string() + ")";
  return false;
}
