// Texts made fit for one line of a log or of standard error.
#ifndef QORV_PLUGIN_LOG_LINE_H
#define QORV_PLUGIN_LOG_LINE_H

#include <cstddef>
#include <string>

// `text` on one line of well-formed UTF-8: control characters and bytes that
// are no part of a UTF-8 character as \xNN, cut to about `limit` bytes.
std::string OneLine(const std::string& text, std::size_t limit);

#endif  // QORV_PLUGIN_LOG_LINE_H
