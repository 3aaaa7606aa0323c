// The Linux entry point while Linux runs the tray headless: `--version` is answered
// first, as in main.cpp, and anything else goes on to the headless tray, whose own
// `main` is compiled as run_headless_tray (see CMakeLists.txt). This file goes away
// when Linux builds main.cpp.

#include <cstddef>

#include "tray/version.h"

int run_headless_tray();

int main(int argc, char** argv) {
  if (auto status = tallow::answer_version_request({argv, static_cast<std::size_t>(argc)})) {
    return *status;
  }
  return run_headless_tray();
}
