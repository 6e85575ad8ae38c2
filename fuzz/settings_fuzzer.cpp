// Arbitrary bytes as a settings file; checks what the grammar guarantees.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "config/settings_file.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

bool EndsInSpace(std::string_view text) {
  return !text.empty() && std::string_view(" \t\n\v\f\r").find(text.back()) != std::string_view::npos;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  SettingsFile settings;
  settings.LoadText(std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& [name, keys] : settings.AllSections()) {
    // Comments are cut and lines end at line feeds, wherever they stand.
    Check(name.find('#') == std::string::npos && name.find('\n') == std::string::npos);
    // HasKey takes C texts, so a name holding a NUL byte is out of its reach.
    if (name.find('\0') == std::string::npos) Check(settings.HasKey(name.c_str(), nullptr));
    for (const auto& [key, value] : keys) {
      Check(key.find_first_of("#\n=") == std::string::npos);
      Check(value.find_first_of("#\n") == std::string::npos);
      Check(!EndsInSpace(value));
      Check(key.empty() || std::string_view("\t #;[").find(key[0]) == std::string_view::npos);
    }
  }
  return 0;
}
