// Requests sent as a host sends them: the parameter text copied into a
// buffer of the documented size (larger when the text needs it), so that a
// write past the size is caught by AddressSanitizer.
#ifndef QORV_TESTS_SUPPORT_REQUESTS_H
#define QORV_TESTS_SUPPORT_REQUESTS_H

#include <string>

#include "qorv/plugin_base.h"

struct Answer {
  std::string text;    // what HandleRequest returned
  std::string buffer;  // what it left in the host's buffer
};

Answer Send(PluginBase& plugin, const std::string& function, const std::string& parameters);
// The returned answer alone.
std::string Ask(PluginBase& plugin, const std::string& function, const std::string& parameters);

#endif  // QORV_TESTS_SUPPORT_REQUESTS_H
