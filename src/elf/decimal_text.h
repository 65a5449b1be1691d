// Unsigned decimal numbers in the texts of offload image notes and section names.
#ifndef ELF_DECIMAL_TEXT_H
#define ELF_DECIMAL_TEXT_H

#include <cstdint>
#include <string>

// Reads Text the way strtoull reads base 10: leading white space is skipped, reading stops at the
// first character that is not a digit, and a value too large saturates at the largest one. Unlike
// strtoull, a sign is not accepted. False, with Value untouched, when no digit begins the number.
inline bool readDecimal(const std::string &Text, uint64_t &Value) {
  size_t Pos = Text.find_first_not_of(" \t\n\v\f\r");
  if (Pos == std::string::npos || Text[Pos] < '0' || Text[Pos] > '9')
    return false;
  uint64_t Result = 0;
  for (; Pos < Text.size() && Text[Pos] >= '0' && Text[Pos] <= '9'; ++Pos) {
    uint64_t Digit = static_cast<uint64_t>(Text[Pos] - '0');
    if (Result > (UINT64_MAX - Digit) / 10) {
      Result = UINT64_MAX;
      break;
    }
    Result = Result * 10 + Digit;
  }
  Value = Result;
  return true;
}

#endif
