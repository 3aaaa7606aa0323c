// UTF-8 and UTF-16: any bytes go to UTF-16 and back as their sanitized UTF-8, which is
// valid and equals the input exactly when the input was valid; any UTF-16 units go to
// UTF-8 and back unit for unit, an unpaired surrogate turned into U+FFFD. What is valid
// UTF-8, and what valid UTF-8 says in UTF-16, is GLib's word, not the product's own:
// a decoder wrong the same way twice (overlong forms, encoded surrogates) is caught.

#include <glib.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "common/text.h"
#include "fuzz_check.h"

namespace {

bool is_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDFFF; }

// GLib refuses NUL within a length, which UTF-8 allows: each stretch between them is
// judged on its own.
bool glib_says_valid(std::string_view bytes) {
  for (std::size_t start = 0; start <= bytes.size();) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    if (!g_utf8_validate_len(bytes.data() + start, end - start, nullptr)) return false;
    start = end + 1;
  }
  return true;
}

// Valid UTF-8 in UTF-16 as GLib converts it, NULs kept.
std::u16string glib_utf16(std::string_view bytes) {
  std::u16string wide;
  for (std::size_t start = 0; start <= bytes.size();) {
    const std::size_t end = std::min(bytes.find('\0', start), bytes.size());
    glong units = 0;
    const std::unique_ptr<gunichar2, decltype(&g_free)> converted(
        g_utf8_to_utf16(bytes.data() + start, static_cast<glong>(end - start), nullptr, &units, nullptr), &g_free);
    if (converted) wide.append(reinterpret_cast<const char16_t*>(converted.get()), static_cast<std::size_t>(units));
    if (end < bytes.size()) wide += u'\0';
    start = end + 1;
  }
  return wide;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string wide = tallow::utf8_to_utf16(bytes);
  const std::string sane = tallow::sanitize_utf8(bytes);
  const bool valid = glib_says_valid(bytes);
  tallow::fuzz::check(tallow::is_valid_utf8(bytes) == valid && glib_says_valid(sane) && (sane == bytes) == valid &&
                          tallow::utf16_to_utf8(wide) == sane && wide.size() <= bytes.size(),
                      "UTF-8 to UTF-16 and back is the sanitized input, valid as GLib judges it",
                      [&] { return tallow::fuzz::show(bytes); });
  tallow::fuzz::check(!valid || wide == glib_utf16(bytes), "valid UTF-8 reads as GLib reads it",
                      [&] { return tallow::fuzz::show(bytes); });

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
