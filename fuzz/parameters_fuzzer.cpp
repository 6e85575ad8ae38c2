// Arbitrary bytes as a parameter text; checks what every record holds.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "requests/request_args.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Tag values never hold a space or an "=".
void CheckTagValue(const char* value) {
  if (value != nullptr) Check(std::strpbrk(value, " =") == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL, if any
  std::unique_ptr<RequestArgs> args = ParseParameters(text.c_str());
  if (!args) return 0;
  CheckTagValue(args->module);
  CheckTagValue(args->name);
  CheckTagValue(args->objectId);
  CheckTagValue(args->method);
  Check(args->paramCount >= 0);
  Check((args->paramCount == 0) == (args->params == nullptr));
  std::size_t total = 0;
  for (std::int32_t i = 0; i < args->paramCount; ++i) {
    Check(args->params[i] != nullptr);
    total += std::strlen(args->params[i]);
  }
  // Parameters are pieces of the text, never longer in sum.
  Check(total <= std::strlen(text.c_str()));
  return 0;
}
