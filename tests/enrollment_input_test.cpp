// What the user pastes into the enrollment dialog: either the code alone or the
// whole command line the hub's web UI shows, from which the code and hub are taken.

#include "agent/enrollment_input.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace tallow {

// Shared word for word by every test file that prints these values.
inline void PrintTo(const EnrollmentRequest& request, std::ostream* out) {
  *out << "{code \"" << request.code << "\", hub \"" << request.hub << "\"}";
}

namespace {

const std::string kDefaultHub = "https://default.example";

struct InputCase {
  const char* name;
  std::string text;
  std::optional<EnrollmentRequest> request;
  std::string default_hub = kDefaultHub;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const InputCase& c, std::ostream* out) { *out << c.name; }

std::optional<EnrollmentRequest> request(std::string code, std::string hub = kDefaultHub) {
  return EnrollmentRequest{std::move(code), std::move(hub)};
}

class EnrollmentInput : public ::testing::TestWithParam<InputCase> {};

TEST_P(EnrollmentInput, GivesTheCodeAndHub) {
  const auto& c = GetParam();
  EXPECT_EQ(parse_enrollment_input(c.text, c.default_hub), c.request) << "input: " << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Enrollment, EnrollmentInput,
    ::testing::Values(
        // The code alone.
        InputCase{"code_alone", "K7Q2-MX9P", request("K7Q2-MX9P")},
        InputCase{"code_alone_with_current_hub", "K7Q2", request("K7Q2", "https://current.example"),
                  "https://current.example"},
        InputCase{"code_with_surrounding_white_space", " \t\r\n K7Q2 \xC2\xA0\xE3\x80\x80\n",
                  request("K7Q2")},
        // The line as the web UI shows it.
        InputCase{"full_line", "tallowmered enroll K7Q2 --hub=https://hub.example.com",
                  request("K7Q2", "https://hub.example.com")},
        InputCase{"windows_path_with_exe",
                  "C:\\Tallowmere\\tallowmered.exe enroll K7Q2 --hub=https://h.example",
                  request("K7Q2", "https://h.example")},
        InputCase{"posix_path", "/usr/local/bin/tallowmered enroll K7Q2", request("K7Q2")},
        InputCase{"relative_path", ".\\tallowmered.exe enroll K7Q2", request("K7Q2")},
        InputCase{"doubled_exe_suffix", "tallowmered.exe.exe enroll K7Q2", request("K7Q2")},
        InputCase{"name_ending_in_agent_name", "my-tallowmered enroll K7Q2", request("K7Q2")},
        InputCase{"options_in_any_order", "--hub=https://h.example K7Q2 enroll tallowmered",
                  request("K7Q2", "https://h.example")},
        InputCase{"shell_line_continuation_after_code",
                  "tallowmered enroll K7Q2 \\\n  --hub=https://h.example", request("K7Q2", "https://h.example")},
        // The separate hub option.
        InputCase{"separate_hub_option", "tallowmered enroll --hub https://h.example K7Q2",
                  request("K7Q2", "https://h.example")},
        InputCase{"separate_hub_option_after_code", "K7Q2 --hub https://h.example",
                  request("K7Q2", "https://h.example")},
        InputCase{"separate_hub_option_last_keeps_hub", "K7Q2 --hub", request("K7Q2")},
        InputCase{"separate_hub_value_taken_whatever_it_is", "--hub -x K7Q2", request("K7Q2", "-x")},
        InputCase{"separate_hub_value_may_be_enroll", "--hub enroll K7Q2", request("K7Q2", "enroll")},
        InputCase{"separate_hub_consumes_would_be_code", "--hub K7Q2 CODE2", request("CODE2", "K7Q2")},
        InputCase{"separate_hub_consumes_hub_option", "--hub --hub=x K7Q2", request("K7Q2", "--hub=x")},
        // Two hub options: the later one wins, whatever their forms.
        InputCase{"two_hub_options", "--hub=https://a K7Q2 --hub=https://b", request("K7Q2", "https://b")},
        InputCase{"separate_then_joined", "--hub https://a --hub=https://b K7Q2", request("K7Q2", "https://b")},
        InputCase{"joined_then_separate", "--hub=https://a --hub https://b K7Q2", request("K7Q2", "https://b")},
        InputCase{"empty_hub_option", "K7Q2 --hub=", request("K7Q2", "")},
        InputCase{"hub_value_keeps_equals_signs", "K7Q2 --hub=https://h/?a=b", request("K7Q2", "https://h/?a=b")},
        InputCase{"empty_default_hub", "K7Q2", request("K7Q2", ""), ""},
        // The first candidate is the code.
        InputCase{"two_candidates", "FIRST SECOND", request("FIRST")},
        InputCase{"candidate_after_code_ignored", "tallowmered enroll FIRST extra --hub=h", request("FIRST", "h")},
        // Comparisons are exact and case-sensitive.
        InputCase{"capital_exe_is_not_the_program", "tallowmered.EXE enroll K7Q2", request("tallowmered.EXE")},
        InputCase{"capital_program_name", "Tallowmered enroll K7Q2", request("Tallowmered")},
        InputCase{"capital_subcommand", "Enroll K7Q2", request("Enroll")},
        InputCase{"capital_hub_option_is_other_option", "--HUB=https://h K7Q2", request("K7Q2")},
        InputCase{"hub_option_prefix_only", "--hubx=https://h K7Q2", request("K7Q2")},
        InputCase{"word_containing_enroll", "enrolled", request("enrolled")},
        InputCase{"agent_name_with_other_suffix", "tallowmered.exe.bak K7Q2", request("tallowmered.exe.bak")},
        InputCase{"agent_name_prefix", "tallowmeredx K7Q2", request("tallowmeredx")},
        InputCase{"bare_exe_suffix", ".exe K7Q2", request(".exe")},
        // Quotation marks are ordinary characters.
        InputCase{"double_quoted_code", "tallowmered enroll \"K7Q2\"", request("\"K7Q2\"")},
        InputCase{"single_quoted_code", "'K7Q2'", request("'K7Q2'")},
        InputCase{"quoted_program_path", "\"C:\\Program Files\\tallowmered.exe\" enroll K7Q2",
                  request("\"C:\\Program")},
        // Only White_Space separates tokens.
        InputCase{"unicode_separators", "tallowmered\xE2\x80\x83" "enroll\xC2\x85K7Q2\xE2\x80\xA9--hub=h",
                  request("K7Q2", "h")},
        InputCase{"zero_width_space_does_not_separate", "tallowmered\xE2\x80\x8B" "enroll K7Q2",
                  request("tallowmered\xE2\x80\x8B" "enroll")},
        InputCase{"non_ascii_code", "\xC3\xA9t\xC3\xA9", request("\xC3\xA9t\xC3\xA9")},
        // No code at all.
        InputCase{"empty", "", std::nullopt},
        InputCase{"white_space_only", " \t\r\n\xC2\xA0\xE3\x80\x80", std::nullopt},
        InputCase{"only_options_program_and_subcommand",
                  "C:\\x\\tallowmered.exe enroll --hub=https://h -v --verbose", std::nullopt},
        InputCase{"code_looking_like_an_option", "tallowmered enroll -K7Q2", std::nullopt},
        InputCase{"lone_dash", "-", std::nullopt},
        InputCase{"only_separate_hub_option", "--hub K7Q2", std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow
