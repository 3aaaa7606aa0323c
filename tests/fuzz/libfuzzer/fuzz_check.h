#pragma once
// What every libFuzzer harness shares: a failed property prints what broke and aborts,
// so libFuzzer keeps the input as a crash file (and scripts/test fails on it).

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

namespace tallow::fuzz {

// The bytes, printable, for a failure message.
inline std::string show(std::string_view bytes) {
  std::string out = "\"";
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '"' && c != '\\') {
      out += c;
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      out += hex;
    }
  }
  return out + "\"";
}

// `detail` makes the failure's text, and runs only on a failure: a harness runs many
// thousand times a second.
template <typename Detail>
void check(bool holds, const char* property, const Detail& detail) {
  if (holds) return;
  std::fprintf(stderr, "property failed: %s\n  %s\n", property, std::string(detail()).c_str());
  std::abort();
}

}  // namespace tallow::fuzz
