// Where the state directory is on Linux when nothing names it: under the XDG state home.

#include <gtest/gtest.h>

#include "agent/agent_locations.h"
#include "posix/scoped_variables.h"

namespace tallow {
namespace {

TEST(PosixStateDirectory, FallsBackToTheXdgStateHome) {
  struct Case {
    const char* name;
    std::optional<std::string> state_directory, local_app_data, xdg_state_home;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"named_outright", "/srv/state", "/appdata", "/xdg", "/srv/state"},
      {"local_app_data_next", std::nullopt, "/appdata", "/xdg", "/appdata/tallowmere"},
      {"xdg_state_home", std::nullopt, std::nullopt, "/xdg/state", "/xdg/state/tallowmere"},
      {"no_xdg_state_home", std::nullopt, std::nullopt, std::nullopt, "/home/ada/.local/state/tallowmere"},
      {"relative_xdg_state_home_is_ignored", std::nullopt, std::nullopt, "rel/state",
       "/home/ada/.local/state/tallowmere"},
      {"empty_xdg_state_home_is_ignored", std::nullopt, std::nullopt, "", "/home/ada/.local/state/tallowmere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::ScopedVariables variables;
    variables.set("HOME", "/home/ada");
    variables.set(std::string(kStateDirectoryVariable), c.state_directory);
    variables.set("LOCALAPPDATA", c.local_app_data);
    variables.set("XDG_STATE_HOME", c.xdg_state_home);
    EXPECT_EQ(resolve_state_directory(), std::filesystem::path(c.expected));
  }
}

}  // namespace
}  // namespace tallow
