// Windows command lines: any program path (no quote can be in one) and any arguments,
// as raw UTF-16 units, built into one line and split again by CommandLineToArgvW's
// rules come back unchanged. The reference splitter is checked against the real
// CommandLineToArgvW under Wine (tests/win32/command_line_random_test.cpp).

#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "platform/command_line.h"
#include "support/command_line_reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Units in little-endian pairs; unit 0 ends one argument (the first is the program).
  std::vector<std::u16string> words{u""};
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const char16_t unit = static_cast<char16_t>(data[i] | data[i + 1] << 8);
    if (unit == 0) {
      words.emplace_back();
    } else if (unit != u'"' || words.size() > 1) {
      words.back() += unit;
    }
  }
  const std::vector<std::u16string> arguments(words.begin() + 1, words.end());
  const std::u16string line = tallow::platform::build_command_line(words.front(), arguments);
  tallow::fuzz::check(tallow::test::split_command_line(line) == words, "the split line gives back every argument",
                      [&] { return tallow::fuzz::show(std::string_view(reinterpret_cast<const char*>(line.data()), line.size() * 2)); });
  return 0;
}
