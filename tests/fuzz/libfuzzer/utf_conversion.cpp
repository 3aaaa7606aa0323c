// UTF-8 and UTF-16: any bytes go to UTF-16 and back as their sanitized UTF-8, which is
// valid and equals the input exactly when the input was valid; any UTF-16 units go to
// UTF-8 and back unit for unit, an unpaired surrogate turned into U+FFFD.

#include <cstdint>

#include "common/text.h"
#include "fuzz_check.h"

namespace {

bool is_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = tallow::utf8_to_utf16(bytes);
  const std::string sane = tallow::sanitize_utf8(bytes);
  tallow::fuzz::check(tallow::is_valid_utf8(sane) && tallow::utf16_to_utf8(wide) == sane &&
                          tallow::is_valid_utf8(bytes) == (sane == bytes) && wide.size() <= bytes.size(),
                      "UTF-8 to UTF-16 and back is the sanitized input", [&] { return tallow::fuzz::show(bytes); });

  std::u16string units;
  for (std::size_t i = 0; i + 1 < size; i += 2) units += static_cast<char16_t>(data[i] | data[i + 1] << 8);
  const std::u16string back = tallow::utf8_to_utf16(tallow::utf16_to_utf8(units));
  bool kept = back.size() == units.size();
  for (std::size_t i = 0; kept && i < units.size(); ++i) {
    kept = back[i] == units[i] || (is_surrogate(units[i]) && back[i] == 0xFFFD);
    // A surrogate survives only as half of a pair.
    if (kept && is_surrogate(back[i])) {
      const bool high = back[i] < 0xDC00;
      kept = high ? i + 1 < back.size() && back[i + 1] >= 0xDC00 && back[i + 1] <= 0xDFFF
                  : i > 0 && back[i - 1] >= 0xD800 && back[i - 1] < 0xDC00;
    }
  }
  tallow::fuzz::check(kept, "UTF-16 to UTF-8 and back keeps every unit but unpaired surrogates",
                      [&] { return tallow::fuzz::show(bytes); });
  return 0;
}
