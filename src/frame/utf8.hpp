// Text from outside the interpreter made fit for a report that readers decode as UTF-8.
#pragma once

#include <cstddef>

#include "frame/text.hpp"

namespace accel {

// Appends `text` to `out` as valid UTF-8: an incomplete sequence at its end (a name that the OS
// cut to its byte limit) is left out, and every other invalid sequence becomes U+FFFD, one for
// each maximal invalid part, as Python's "replace" error handler decodes it. Valid text, ASCII
// included, is appended byte for byte.
void append_utf8(Text& out, const char* text, std::size_t length);

}  // namespace accel
