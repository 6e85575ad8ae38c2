#include "requests/dispatcher.h"

void CopyAnswer(const char* answer, char* buffer, std::size_t bufferSize) {
  std::size_t length = std::strlen(answer);
  if (length > bufferSize - 1) length = bufferSize - 1;
  std::memmove(buffer, answer, length);
  buffer[length] = '\0';
}
