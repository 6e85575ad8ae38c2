// The parameter parser as the plain state machine that the parser's table
// describes, one byte at a time: the reference that the fast parser must
// agree with, byte for byte, in its record, its error position and reason.
#ifndef QORV_TESTS_REQUESTS_REFERENCE_PARSER_H
#define QORV_TESTS_REQUESTS_REFERENCE_PARSER_H

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

struct ReferenceRecord {
  std::optional<std::string> module, name, objectId, method;
  std::vector<std::string> params;
  bool parsed = false;
  std::size_t errorPosition = 0;
  std::string errorWhat;

  bool operator==(const ReferenceRecord& other) const {
    return module == other.module && name == other.name && objectId == other.objectId &&
           method == other.method && params == other.params && parsed == other.parsed &&
           errorPosition == other.errorPosition && errorWhat == other.errorWhat;
  }
};

ReferenceRecord ReferenceParse(const std::string& text);

#endif  // QORV_TESTS_REQUESTS_REFERENCE_PARSER_H
