// config.json: the hub URL the reader picks is the string at hub → url of the whole
// document, and nothing when the document holds none.

#include <cstdint>

#include "fuzz_check.h"
#include "json_reference.h"
#include "agent/state_files.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::optional<std::string> expected;
  if (const auto document = tallow::fuzz::whole_document(bytes)) {
    const auto* url = tallow::fuzz::member(*document, {"hub", "url"});
    if (url && url->is_string()) expected = url->get<std::string>();
  }
  const auto picked = tallow::parse_hub_url(bytes);
  tallow::fuzz::check(picked == expected, "parse_hub_url answers as the whole document does",
                      [&] { return tallow::fuzz::show(bytes) + " gave " + (picked ? tallow::fuzz::show(*picked) : "none"); });
  return 0;
}
