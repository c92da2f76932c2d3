// Repairing UTF-8 the way CPython's decoder does: by maximal invalid parts.
#include "frame/utf8.hpp"

namespace accel {

void append_utf8(Text& out, const char* text, std::size_t length) {
  static constexpr char kReplacement[] = "\xEF\xBF\xBD";
  const auto* s = reinterpret_cast<const unsigned char*>(text);
  std::size_t i = 0;
  while (i < length) {
    const unsigned lead = s[i];
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    // How many continuation bytes the lead announces, and the range its first one must fall in:
    // narrower after E0, ED, F0 and F4, so that overlong forms, surrogates and code points past
    // U+10FFFF are invalid from their second byte on.
    int need = 0;
    unsigned low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      if (lead == 0xE0) low = 0xA0;
      if (lead == 0xED) high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;
    }
    std::size_t j = i + 1;
    int got = 0;
    while (got < need && j < length && s[j] >= low && s[j] <= high) {
      low = 0x80;
      high = 0xBF;
      ++j;
      ++got;
    }
    if (need > 0 && got == need) {
      out.append(text + i, j - i);
    } else if (need > 0 && j == length) {
      return;  // cut at the end
    } else {
      out += kReplacement;
    }
    i = j;
  }
}

}  // namespace accel
