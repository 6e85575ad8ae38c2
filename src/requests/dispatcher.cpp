#include "requests/dispatcher.h"

#include "requests/hot_path.h"

QORV_HOT_PATH(24)
void CopyAnswer(const char* answer, std::size_t length, char* buffer, std::size_t bufferSize) {
  if (length > bufferSize - 1) length = bufferSize - 1;
  std::memmove(buffer, answer, length);
  buffer[length] = '\0';
}
