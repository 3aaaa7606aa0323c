// The enrollment dialog's text: a code taken from it is one whole word of the text and
// no option or program name, and the request written as the agent's own command
// ("tallowmered.exe enroll CODE --hub=HUB") reads back as the same request. A command
// built from the fuzz bytes in the forms the hub's web UI shows always gives its code
// and hub.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>

#include "common/text.h"
#include "agent/enrollment_input.h"
#include "fuzz_check.h"

namespace {

// A word of printable ASCII, which holds no white space of any kind.
std::string word(FuzzedDataProvider& provider) {
  std::string text = provider.ConsumeRandomLengthString(48);
  for (char& c : text) c = static_cast<char>(0x21 + static_cast<unsigned char>(c) % 94);
  return text;
}

// The forms the hub shows: the whole command with "--hub=URL" or "--hub URL" before or
// after the code, blanks and line breaks around it as a paste leaves them.
void check_built_command(FuzzedDataProvider& provider, const std::string& default_hub) {
  std::string code = word(provider);
  const std::string hub = word(provider);
  // Not an option, the subcommand or a name of the agent's program.
  if (code.empty() || code.starts_with('-')) code = "c" + code;
  if (code == "enroll" || code.ends_with(".exe") || code.ends_with("tallowmered")) code += "0";
  const bool spaced = provider.ConsumeBool();
  const std::string hub_option = spaced && !hub.empty() ? "--hub " + hub : "--hub=" + hub;
  const std::string program = provider.ConsumeBool() ? "tallowmered" : "C:\\Tools\\tallowmered.exe";
  const std::string command = provider.ConsumeBool() ? program + " enroll " + code + " " + hub_option
                                                     : program + " enroll " + hub_option + " " + code;
  const std::string text = (provider.ConsumeBool() ? " \n" : "") + command + (provider.ConsumeBool() ? "\r\n\t" : "");
  const auto request = tallow::parse_enrollment_input(text, default_hub);
  tallow::fuzz::check(request == tallow::EnrollmentRequest{code, hub}, "the hub's own command gives its code and hub",
                      [&] {
                        return tallow::fuzz::show(text) + " gave " +
                               (request ? tallow::fuzz::show(request->code) + " " + tallow::fuzz::show(request->hub)
                                        : "none");
                      });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider provider(data, size);
  const std::string default_hub = provider.ConsumeRandomLengthString(64);
  if (provider.ConsumeBool()) {
    check_built_command(provider, default_hub);
    return 0;
  }
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
