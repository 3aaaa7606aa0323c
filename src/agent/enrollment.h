#pragma once
// Enrolling this computer with a hub: the agent's own "enroll" subcommand, run in the
// background under a time limit; its outcome becomes a notice for the user, and a
// success restarts the agent.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "agent/supervisor.h"
#include "platform/captured_process.h"

namespace tallow {

inline constexpr std::string_view kEnrollmentFailedCaption = "Enrollment failed";
inline constexpr std::string_view kEnrolledCaption = "Enrolled";
inline constexpr std::string_view kEnrollmentTimedOutText = "No answer within 30 seconds.";

// The product's limits; tests shorten them.
struct EnrollmentLimits {
  std::chrono::nanoseconds time_limit = std::chrono::seconds(30);
  // Per output stream. Enough for any message meant for a person; a runaway agent
  // cannot fill the tray's memory within its time.
  std::size_t kept_output_bytes = 16 * 1024 * 1024;
};

// The agent's arguments: the state directory, "enroll", the code, "--hub=" and the hub.
std::vector<std::string> enrollment_arguments(const std::filesystem::path& state_directory,
                                              std::string_view code, std::string_view hub);

// Standard output and standard error, each decoded with U+FFFD for what is not UTF-8,
// joined by a line feed and trimmed of white space at both ends.
std::string combined_output(std::string_view output, std::string_view error_output);

// What an ended run means: the notice for the user, and whether the agent restarts.
struct EnrollmentCompletion {
  Notice notice;
  bool restart_agent = false;
  bool operator==(const EnrollmentCompletion&) const = default;
};

// None for a run given up because the program is ending: nobody would see a notice.
std::optional<EnrollmentCompletion> complete_enrollment(const Result<platform::CapturedRun>& run);

// Runs the agent's "enroll" with the code and the hub as a background task on the
// supervisor's runtime and returns at once. The outcome arrives only as the notice;
// the current hub URL is read again from config.json whatever the outcome.
void run_enrollment(const Supervisor& supervisor, std::string code, std::string hub,
                    EnrollmentLimits limits = {});

}  // namespace tallow
