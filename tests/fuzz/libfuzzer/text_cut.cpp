// Text cut or escaped for the notification area, menus and the dialog program: a cut
// tooltip is the longest prefix that fits without splitting a surrogate pair; labels
// read back as the text once their doubled marks are halved; a dialog argument that
// was valid UTF-8 stays valid within its byte limit, ending in an ellipsis when cut.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "common/text.h"
#include "fuzz_check.h"
#include "platform/notification_text.h"
#include "platform/posix/dialog/dialog_helper.h"

namespace {

// The label with each doubled `mark` read as one; none when a mark stands alone.
template <typename String>
std::optional<String> halved(const String& label, typename String::value_type mark) {
  String text;
  for (std::size_t i = 0; i < label.size(); ++i) {
    if (label[i] == mark && (i + 1 == label.size() || label[++i] != mark)) return std::nullopt;
    text += label[i];
  }
  return text;
}

bool is_high(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tallow;
  FuzzedDataProvider provider(data, size);
  const std::size_t max_units = provider.ConsumeIntegralInRange<std::size_t>(0, 256);
  const std::size_t most_bytes = provider.ConsumeIntegralInRange<std::size_t>(3, 512);
  const std::string text = provider.ConsumeRemainingBytesAsString();
  const std::u16string full = utf8_to_utf16(text);

  const std::u16string tooltip = platform::tooltip_text(text, max_units);
  const std::size_t n = tooltip.size();
  const bool whole = n == full.size();
  // Cut short, it is all the units that fit, or one fewer only where the last would be
  // the first half of a pair.
  const bool longest = whole || (n == max_units && !(n > 0 && is_high(full[n - 1]))) ||
                       (n + 1 == max_units && is_high(full[n]));
  fuzz::check(full.compare(0, n, tooltip) == 0 && n <= max_units && longest,
              "the tooltip is the longest prefix that fits, never half a pair", [&] { return fuzz::show(text); });

  fuzz::check(halved(platform::menu_label_text(text), u'&') == full &&
                  halved(platform::underscore_label_text(text), '_') == text,
              "a label reads back as the text", [&] { return fuzz::show(text); });

  if (is_valid_utf8(text)) {
    const std::string argument = platform::posix::cut_for_argument(text, most_bytes);
    const std::string_view ellipsis = "\xE2\x80\xA6";
    const bool cut = text.size() > most_bytes;
    const std::string_view kept = cut ? std::string_view(argument).substr(0, argument.size() - ellipsis.size()) : argument;
    fuzz::check(argument.size() <= most_bytes && is_valid_utf8(argument) && text.starts_with(kept) &&
                    (!cut || (argument.ends_with(ellipsis) && kept.size() + ellipsis.size() + 3 >= most_bytes)),
                "a dialog argument is whole characters within its limit", [&] { return fuzz::show(text); });
  }
  return 0;
}
