// The hostile state directories only Linux can make: a name that is not UTF-8, and a
// FIFO in the log's place (which once stalled the launch and then the quit).

#include <sys/stat.h>

#include "agent/agent_locations.h"
#include "platform/environment.h"
#include "process/hostile_state_directory.h"

namespace tallow::test {
namespace {

namespace fs = std::filesystem;

INSTANTIATE_TEST_SUITE_P(
    Posix, HostileStateDirectory,
    ::testing::Values(
        // A Linux file name is bytes; the agent must get these very bytes.
        HostileDirectoryCase{"not_utf8",
                             [](const fs::path& scratch) {
                               return scratch / fs::path(std::string("st\xFF" "ate"));
                             },
                             {}},
        HostileDirectoryCase{"log_is_fifo",
                             [](const fs::path& scratch) {
                               const fs::path state = scratch / "fifo-state";
                               fs::create_directories(state);
                               EXPECT_EQ(::mkfifo((state / kAgentLogFileName).c_str(), 0600), 0);
                               return state;
                             },
                             [](const fs::path& state) {
                               return platform::path_text(state / kAgentLogFileName) +
                                      " is not a regular file";
                             }}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tallow::test
