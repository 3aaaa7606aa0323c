// The autostart desktop entry: for any program path it accepts, a reader written
// from the Desktop Entry rules alone (tests/support) finds an Exec line that runs
// exactly that path, and the entry is not hidden. Only paths that are not UTF-8 or hold
// a control character other than newline, tab and carriage return are refused.

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "fuzz_check.h"
#include "support/launch_at_login_support.h"
#include "platform/posix/desktop_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string program(reinterpret_cast<const char*>(data), size);
  const auto entry = tallow::platform::posix::desktop_entry_text(program);
  if (!entry) {
    const bool control = std::any_of(program.begin(), program.end(), [](char c) {
      return (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t' && c != '\r') || c == 0x7F;
    });
    tallow::fuzz::check(control || !tallow::is_valid_utf8(program), "only a path an entry cannot hold is refused",
                        [&] { return tallow::fuzz::show(program); });
    return 0;
  }
  const auto exec = tallow::test::desktop_entry_exec(entry.value());
  tallow::fuzz::check(exec == std::vector<std::string>{program} && !tallow::platform::posix::desktop_entry_is_hidden(entry.value()),
                      "the entry runs the program as given", [&] { return tallow::fuzz::show(entry.value()); });
  return 0;
}
