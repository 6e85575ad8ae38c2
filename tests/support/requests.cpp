#include "support/requests.h"

#include <algorithm>
#include <vector>

Answer Send(PluginBase& plugin, const std::string& function, const std::string& parameters) {
  std::vector<char> buffer(std::max(kQorvParameterBufferSize, parameters.size() + 1));
  std::copy(parameters.begin(), parameters.end(), buffer.begin());
  buffer[parameters.size()] = '\0';
  const char* answer = plugin.HandleRequest("", function.c_str(), buffer.data());
  return {answer, buffer.data()};
}

std::string Ask(PluginBase& plugin, const std::string& function, const std::string& parameters) {
  return Send(plugin, function, parameters).text;
}
