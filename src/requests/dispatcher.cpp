#include "requests/dispatcher.h"

#include "qorv/plugin_base.h"

void CopyAnswer(const char* answer, char* buffer) {
  std::size_t length = std::strlen(answer);
  if (length > kQorvParameterBufferSize - 1) length = kQorvParameterBufferSize - 1;
  std::memmove(buffer, answer, length);
  buffer[length] = '\0';
}
