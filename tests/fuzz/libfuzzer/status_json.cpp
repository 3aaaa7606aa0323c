// status.json: the reader's pid and connection state are the whole document's "pid" (a
// non-negative integer literal that fits 32 bits) and hub → connected (a boolean).

#include <cstdint>
#include <limits>

#include "fuzz_check.h"
#include "json_reference.h"
#include "agent/state_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<tallow::StatusFileRecord> expected;
  if (const auto document = tallow::fuzz::whole_document(bytes)) {
    const auto* pid = tallow::fuzz::member(*document, {"pid"});
    const auto* connected = tallow::fuzz::member(*document, {"hub", "connected"});
    if (pid && pid->is_number_unsigned() &&
        pid->get<std::uint64_t>() <= std::numeric_limits<std::uint32_t>::max()) {
      expected = tallow::StatusFileRecord{pid->get<std::uint32_t>(), std::nullopt};
      if (connected && connected->is_boolean()) expected->connected = connected->get<bool>();
    }
  }
  const auto record = tallow::parse_status_file(bytes);
  tallow::fuzz::check(record == expected, "parse_status_file answers as the whole document does",
                      [&] { return tallow::fuzz::show(bytes); });
  return 0;
}
