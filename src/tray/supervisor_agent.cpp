#include "tray/supervisor_agent.h"

#include <cassert>
#include <utility>

namespace tallow {

SupervisorAgent::SupervisorAgent(Supervisor supervisor, EnrollmentRunner run_enrollment)
    : supervisor_(std::move(supervisor)), run_enrollment_(std::move(run_enrollment)) {
  assert(run_enrollment_);
}

void SupervisorAgent::enroll(const std::string& code, const std::string& hub) {
  run_enrollment_(supervisor_, code, hub);
}

}  // namespace tallow
