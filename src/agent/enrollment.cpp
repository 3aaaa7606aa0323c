#include "agent/enrollment.h"

#include <utility>

#include "common/text.h"
#include "agent/agent_locations.h"
#include "platform/environment.h"

namespace tallow {
namespace {

// Appends the bytes as UTF-8, without a copy when they are valid already.
void append_decoded(std::string& text, std::string_view bytes) {
  if (is_valid_utf8(bytes)) {
    text.append(bytes);
  } else {
    text += sanitize_utf8(bytes);
  }
}

Notice failure(std::string text) {
  return Notice{std::string(kEnrollmentFailedCaption), std::move(text)};
}

}  // namespace

std::vector<std::string> enrollment_arguments(const std::filesystem::path& state_directory,
                                              std::string_view code, std::string_view hub) {
  return {state_directory_argument(state_directory), "enroll", std::string(code),
          "--hub=" + std::string(hub)};
}

std::string combined_output(std::string_view output, std::string_view error_output) {
  std::string text;
  text.reserve(output.size() + 1 + error_output.size());
  append_decoded(text, output);
  text += '\n';
  append_decoded(text, error_output);
  // Trimmed in place: the output may be large.
  const std::string_view kept = trim_white_space(text);
  const std::size_t begin = static_cast<std::size_t>(kept.data() - text.data());
  text.erase(begin + kept.size());
  text.erase(0, begin);
  return text;
}

std::optional<EnrollmentCompletion> complete_enrollment(const Result<platform::CapturedRun>& run) {
  using End = platform::CapturedRun::End;
  if (!run) return EnrollmentCompletion{failure(run.error().message), false};
  switch (run->end) {
    case End::woken:
      return std::nullopt;
    case End::timed_out:
      return EnrollmentCompletion{failure(std::string(kEnrollmentTimedOutText)), false};
    case End::exited:
      break;
  }
  // Only an exit code of 0 counts; a Linux agent killed by a signal failed.
  const bool enrolled =
      run->exit_status == platform::ExitStatus{platform::ExitStatus::Kind::code, 0};
  std::string text = combined_output(run->output, run->error_output);
  if (!enrolled) return EnrollmentCompletion{failure(std::move(text)), false};
  return EnrollmentCompletion{Notice{std::string(kEnrolledCaption), std::move(text)}, true};
}

void run_enrollment(const Supervisor& supervisor, std::string code, std::string hub,
                    EnrollmentLimits limits) {
  // Refused only while the program ends, when the run would be dropped anyway.
  (void)supervisor.runtime()->spawn([self = supervisor, code = std::move(code),
                                     hub = std::move(hub), limits] {
    // Not the agent's own launch: no env file, no log, no job, the tray's working directory.
    const platform::CaptureCommand command{self.agent_path(),
                                           enrollment_arguments(self.state_directory(), code, hub),
                                           platform::environment_with({{"NO_COLOR", "1"}})};
    const platform::WakeEvent* const wake[] = {&self.runtime()->shutdown_event()};
    // The run's output, which may be large, goes with the end of this statement.
    auto completion =
        complete_enrollment(platform::run_captured(command, {limits.time_limit, limits.kept_output_bytes}, wake));
    if (!completion) return;
    // Whatever happened, config.json says best where this computer is enrolled now.
    self.leave_notice(std::move(completion->notice));
    if (completion->restart_agent) self.restart();
  });
}

}  // namespace tallow
