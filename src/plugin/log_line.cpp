#include "plugin/log_line.h"

#include <cstdio>

namespace {

// The length of the well-formed UTF-8 sequence at text[i] (not a control
// character), or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t at) {
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
  };
  const unsigned c = byte(i);
  if (c >= 0x20 && c < 0x7F) return 1;
  // Lead byte, its length, and the range of the byte after it (which rules
  // out overlong forms and surrogates).
  struct Lead {
    unsigned first, last, length, low, high;
  };
  static constexpr Lead kLeads[] = {{0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
                                    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
                                    {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
                                    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F}};
  for (const Lead& lead : kLeads) {
    if (c < lead.first || c > lead.last) continue;
    if (byte(i + 1) < lead.low || byte(i + 1) > lead.high) return 0;
    for (unsigned k = 2; k < lead.length; ++k) {
      if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return lead.length;
  }
  return 0;
}

}  // namespace

std::string OneLine(const std::string& text, std::size_t limit) {
  std::string line;
  std::size_t i = 0;
  while (i < text.size() && line.size() < limit) {
    if (const std::size_t length = Utf8Length(text, i)) {
      line.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i++]));
    line += escaped;
  }
  if (i < text.size()) line += "...";
  return line;
}
