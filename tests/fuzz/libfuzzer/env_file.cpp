// The env file: whatever entries a file gives, written back one a line ("export KEY=
// "VALUE"") they read again as the same entries; no key holds "=", no entry a newline.

#include <cstdint>

#include "fuzz_check.h"
#include "settings/state_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const auto entries = tallow::parse_env_file(bytes);
  std::string written;
  for (const auto& entry : entries) {
    tallow::fuzz::check(entry.key.find_first_of("=\n") == std::string::npos &&
                            entry.value.find('\n') == std::string::npos,
                        "an entry is one line and its key holds no \"=\"", [&] { return tallow::fuzz::show(bytes); });
    written += "export " + entry.key + "=\"" + entry.value + "\"\n";
  }
  tallow::fuzz::check(tallow::parse_env_file(written) == entries, "entries written back read the same",
                      [&] { return tallow::fuzz::show(bytes) + " wrote " + tallow::fuzz::show(written); });
  return 0;
}
