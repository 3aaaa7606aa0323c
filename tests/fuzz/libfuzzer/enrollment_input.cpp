// The enrollment dialog's text: a code taken from it is one whole word of the text and
// no option or program name, and the request written as the agent's own command
// ("tallowmered.exe enroll CODE --hub=HUB") reads back as the same request.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "daemon/enrollment_input.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string default_hub = provider.ConsumeRandomLengthString(64);
  const std::string text = provider.ConsumeRemainingBytesAsString();
  const auto request = tallow::parse_enrollment_input(text, default_hub);
  if (!request) return 0;

  const auto words = tallow::split_white_space(text);
  tallow::fuzz::check(std::find(words.begin(), words.end(), request->code) != words.end() &&
                          !request->code.starts_with('-') && request->code != "enroll",
                      "the code is a word of the text, not an option or the subcommand",
                      [&] { return tallow::fuzz::show(text) + " gave " + tallow::fuzz::show(request->code); });
  std::string command = "tallowmered.exe enroll " + request->code;
  if (request->hub != default_hub) command += " --hub=" + request->hub;
  tallow::fuzz::check(tallow::parse_enrollment_input(command, default_hub) == request,
                      "the request as a command reads back the same", [&] { return tallow::fuzz::show(command); });
  return 0;
}
