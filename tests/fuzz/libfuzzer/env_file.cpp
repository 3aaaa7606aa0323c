// The env file: whatever entries a file gives, written back one a line ("export KEY=
// "VALUE"") they read again as the same entries; no key holds "=", no entry a newline.
// A file built from the fuzz bytes as KEY="value" lines gives exactly those entries.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>

#include "fuzz_check.h"
#include "agent/state_files.h"

namespace {

// A shell variable's name: a letter or "_", then letters, digits and "_".
std::string key(FuzzedDataProvider& provider) {
  static constexpr char kFirst[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_";
  static constexpr char kRest[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz_0123456789";
  std::string name(1, kFirst[provider.ConsumeIntegralInRange<std::size_t>(0, sizeof kFirst - 2)]);
  const std::size_t length = provider.ConsumeIntegralInRange<std::size_t>(0, 12);
  for (std::size_t i = 0; i < length; ++i) name += kRest[provider.ConsumeIntegralInRange<std::size_t>(0, sizeof kRest - 2)];
  return name;
}

void check_built_file(FuzzedDataProvider& provider) {
  std::vector<tallow::EnvEntry> expected;
  std::string file;
  while (provider.remaining_bytes() > 0) {
    tallow::EnvEntry entry{key(provider), provider.ConsumeRandomLengthString(64)};
    std::erase(entry.value, '\n');
    file += entry.key + "=\"" + entry.value + "\"" + (provider.ConsumeBool() ? "\r\n" : "\n");
    expected.push_back(std::move(entry));
  }
  tallow::fuzz::check(tallow::parse_env_file(file) == expected, "KEY=\"value\" lines give their entries",
                      [&] { return tallow::fuzz::show(file); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > 0 && data[0] == 'B') {
    FuzzedDataProvider provider(data + 1, size - 1);
    check_built_file(provider);
    return 0;
  }
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
