// The tray program: the agent's notification-area companion.

#include <cstddef>

#include "tray/tray_app.h"
#include "tray/version.h"

int main(int argc, char** argv) {
  if (auto status = tallow::answer_version_request({argv, static_cast<std::size_t>(argc)})) {
    return *status;
  }
  return tallow::run_tray_app();
}
