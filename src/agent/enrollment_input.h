#pragma once
// Turning the text pasted into the enrollment dialog into an enrollment request.

#include <optional>
#include <string>
#include <string_view>

namespace tallow {

struct EnrollmentRequest {
  std::string code;
  std::string hub;
  bool operator==(const EnrollmentRequest&) const = default;
};

// Takes the code and the hub from a pasted command line ("tallowmered enroll CODE
// --hub=URL") or a bare code; the hub defaults to `default_hub`. None without a code.
std::optional<EnrollmentRequest> parse_enrollment_input(std::string_view text,
                                                        std::string_view default_hub);

}  // namespace tallow
