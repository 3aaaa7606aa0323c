// The tray's event loop over a fake desktop and a fake agent that write one line per
// call into a shared transcript: what each command does, the order of a pass, when
// the tray is rebuilt and when the loop ends. Then the same loop over the real
// supervisor with in-process agent children.

#include "tray/tray_controller.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "common/failure.h"
#include "platform/environment.h"
#include "support/fake_agent.h"
#include "support/test_support.h"
#include "agent/supervisor.h"

namespace tallow {

struct TrayControllerAccess {
  static bool quitting(const TrayController& controller) { return controller.quitting_; }
};

namespace {

using namespace std::chrono_literals;
using Transcript = std::vector<std::string>;

const std::string kEllipsis = "\xE2\x80\xA6";

// Appends one line per call, made of the parts given.
struct Recorder {
  Transcript& calls;
  template <typename... Parts>
  void operator()(const Parts&... parts) {
    std::string line;
    ((line += parts), ...);
    calls.push_back(std::move(line));
  }
};

class FakeHost final : public TrayHost {
 public:
  explicit FakeHost(Transcript& calls) : log{calls} {}

  bool quit_message = false, close = false, login = false, light = false, refuse = false;
  std::optional<std::string> answer, toggle_error, icon_failure;
  std::deque<std::string> commands;
  std::vector<std::string> picked_in_dialog;  // join the queue while the dialog is open
  platform::Menu menu;

  Result<bool> drain_messages() override {
    if (icon_failure) return Error{*icon_failure};
    return !quit_message;
  }
  std::optional<std::string> next_command() override {
    if (commands.empty()) return std::nullopt;
    std::string command = std::move(commands.front());
    commands.pop_front();
    return command;
  }
  bool close_requested() override { return close; }
  void wait_for_input(std::chrono::milliseconds limit) override { log("wait ", std::to_string(limit.count())); }
  Result<void> show(const TrayLook& look) override {
    menu = look.menu;
    log("set_menu ", look.menu.front().text);
    const std::vector<std::uint8_t>& tag = look.icon.images.front().rgba;
    log("set_icon ", std::string(tag.begin(), tag.end()));
    log("set_tooltip ", look.tooltip);
    return refuse ? Result<void>(Error{"refused"}) : Result<void>();
  }
  void show_message(std::string_view caption, std::string_view text, bool is_error) override {
    log("show_message ", is_error ? "error " : "info ", caption, "|", text);
  }
  void open_with_shell(std::string_view target) override { log("open ", target); }
  std::optional<std::string> ask_text(std::string_view caption, std::string_view prompt, std::string_view hint,
                                      std::string_view accept) override {
    log("ask_text ", caption, "|", prompt, "|", hint, "|", accept);
    commands.insert(commands.end(), picked_in_dialog.begin(), picked_in_dialog.end());
    return answer;
  }
  bool launch_at_login() override { return login; }
  Result<void> toggle_launch_at_login() override {
    log("toggle_launch_at_login");
    if (toggle_error) return Error{*toggle_error};
    login = !login;
    return {};
  }
  std::optional<bool> light_theme() override { return light; }

 private:
  Recorder log;
};

class FakeAgent final : public AgentControl {
 public:
  explicit FakeAgent(Transcript& calls) : log{calls} {}

  AgentStatus state = AgentStatus::running();
  std::optional<std::string> hub;
  std::optional<bool> connected;
  bool child = false;
  mutable std::optional<Notice> notice;

  void start() const override { log("agent.start"); }
  void stop() const override { log("agent.stop"); }
  void restart() const override { log("agent.restart"); }
  void enroll(const std::string& code, const std::string& hub_url) const override {
    log("agent.enroll ", code, " ", hub_url);
  }
  AgentStatus status() const override { return state; }
  std::optional<std::string> hub_url() const override { return hub; }
  std::optional<bool> hub_connected() const override { return connected; }
  bool has_child() const override { return child; }
  std::optional<Notice> take_notice() const override { return std::exchange(notice, std::nullopt); }
  std::filesystem::path state_directory() const override { return platform::path_from_text("/state dir"); }
  std::filesystem::path log_path() const override { return state_directory() / "tallowmered.log"; }

 private:
  mutable Recorder log;
};

// Writes its arguments where the pixels go, so the host's set_icon line names them.
platform::IconPicture paint_tag(const AgentStatus& status, std::optional<bool> light_theme) {
  const std::string tag = status_label(status) + (*light_theme ? " light" : " dark");
  return {"", {{1, 1, std::vector<std::uint8_t>(tag.begin(), tag.end())}}};
}

Transcript operator+(Transcript a, const Transcript& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Transcript rebuilt(const std::string& label, const std::string& theme = "dark") {
  return {"set_menu " + label, "set_icon " + label + " " + theme, "set_tooltip tallowmered: " + label};
}

class TrayControllerTest : public ::testing::Test {
 protected:
  TrayControllerTest() { begin(); }

  // A new loop over the fakes as they stand now, past its first look.
  void begin() {
    controller.emplace(host, agent, paint_tag);
    controller->first_look();
  }
  // One pass: what it did, and whether the loop goes on.
  std::pair<Transcript, bool> pass() {
    const bool goes_on = controller->run_pass();
    return {std::exchange(calls, {}), goes_on};
  }
  Transcript lines() { return pass().first; }

  Transcript calls;
  FakeHost host{calls};
  FakeAgent agent{calls};
  std::optional<TrayController> controller;
};

TEST_F(TrayControllerTest, FirstLookIsTheTrayOfTheFirstSnapshotAndLaterPassesCompareWithIt) {
  agent.hub = "https://h/";
  host.light = true;
  const TrayLook look = controller->first_look();
  EXPECT_EQ(look.menu, build_tray_menu(TraySnapshot{agent.hub, agent.state, false, true, std::nullopt}));
  EXPECT_EQ(look.icon, paint_tag(AgentStatus::running(), true));
  EXPECT_EQ(look.tooltip, "tallowmered: Running");
  EXPECT_EQ(lines(), Transcript{"wait 200"});
}

TEST_F(TrayControllerTest, EveryCommand) {
  const std::string ask = "ask_text Enroll this computer|Paste the command the hub's web UI shows, or just its "
                          "code.|tallowmered enroll " + kEllipsis + " --hub=" + kEllipsis + "|Enroll";
  const std::string refused = "Access is denied. (os error 5)";
  struct Case {
    const char* name;
    std::deque<std::string> commands;
    Transcript expected;  // the pass's lines before its wait
    std::optional<std::string> hub = std::nullopt, answer = std::nullopt, toggle_error = std::nullopt;
    std::vector<std::string> picked_in_dialog = {};
  };
  const std::vector<Case> cases = {
      {"stop", {"stop"}, {"agent.stop"}},
      {"restart", {"restart"}, {"agent.restart"}},
      {"start", {"start"}, {"agent.start"}},
      {"several_in_order", {"stop", "start", "stop"}, {"agent.stop", "agent.start", "agent.stop"}},
      {"unknown", {"Stop", "", "quit ", "sto", "web2", "enroll\n"}, {}},
      {"web", {"web"}, {"open https://h:8443/ui?a=1#f"}, "https://h:8443/ui?a=1#f"},
      {"web_without_hub", {"web"}, {}},
      {"web_not_http", {"web"}, {}, "file:///C:/Windows/System32/calc.exe"},
      {"log", {"log"}, {"open " + platform::path_text(agent.log_path())}},
      {"state", {"state"}, {"open " + platform::path_text(agent.state_directory())}},
      {"login", {"login"}, Transcript{"toggle_launch_at_login"} + rebuilt("Running")},
      {"login_refused", {"login"},
       {"toggle_launch_at_login", "show_message error Could not change Launch at Login|" + refused},
       std::nullopt, std::nullopt, refused},
      {"enroll_cancelled", {"enroll"}, {ask}},
      {"enroll_without_code", {"enroll"},
       {ask, "show_message error Enrollment failed|No enrollment code in \xE2\x80\x9C--hub=h enroll\xE2\x80\x9D."},
       "https://h/", " \t--hub=h enroll \xC2\xA0"},
      {"enroll_default_hub", {"enroll"}, {ask, "agent.enroll K7Q2 https://hub.tallowmere.net"}, std::nullopt, "K7Q2"},
      {"enroll_current_hub", {"enroll"}, {ask, "agent.enroll K7Q2 https://mine/"}, "https://mine/", " K7Q2\n"},
      {"enroll_pasted_hub", {"enroll"}, {ask, "agent.enroll K7Q2 https://new/"}, "https://mine/",
       "C:\\T\\tallowmered.exe enroll K7Q2 --hub=https://new/"},
      {"picked_during_the_dialog_run_in_this_pass", {"enroll", "stop"},
       {ask, "agent.enroll K7Q2 https://hub.tallowmere.net", "agent.stop", "agent.start"}, std::nullopt, "K7Q2",
       std::nullopt, {"start"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    host.login = false;
    agent.hub = c.hub;
    host.answer = c.answer;
    host.toggle_error = c.toggle_error;
    host.picked_in_dialog = c.picked_in_dialog;
    begin();
    host.commands = c.commands;
    EXPECT_EQ(pass(), std::make_pair(c.expected + Transcript{"wait 200"}, true));
  }
}

TEST_F(TrayControllerTest, APassRunsItsStepsInOrderAndACloseRequestStopsOnce) {
  agent.child = true;
  host.commands = {"restart"};
  host.close = true;
  agent.notice = Notice{"Enrolled", "Welcome."};
  agent.state = AgentStatus::stopping();
  EXPECT_EQ(pass(), std::make_pair(Transcript{"agent.restart", "agent.stop", "show_message info Enrolled|Welcome."} +
                                       rebuilt("Stopping" + kEllipsis) + Transcript{"wait 200"},
                                   true));
  EXPECT_TRUE(TrayControllerAccess::quitting(*controller));
  EXPECT_EQ(lines(), Transcript{"wait 200"});  // the close request stands, but stops once
  agent.child = false;  // the quit check follows the refresh, and skips the wait
  agent.state = AgentStatus::stopped();
  EXPECT_EQ(pass(), std::make_pair(rebuilt("Stopped"), false));
}

TEST_F(TrayControllerTest, QuitWaitsForTheChildAndStillTakesCommands) {
  agent.child = true;
  host.commands = {"quit"};
  EXPECT_EQ(pass(), std::make_pair(Transcript{"agent.stop", "wait 200"}, true));
  host.close = true;  // after quit: no second stop
  EXPECT_EQ(lines(), Transcript{"wait 200"});
  host.commands = {"start"};
  EXPECT_EQ(lines(), (Transcript{"agent.start", "wait 200"}));
  agent.child = false;  // quit stops every time, and without a child ends the loop in the same pass
  host.commands = {"quit"};
  EXPECT_EQ(pass(), std::make_pair(Transcript{"agent.stop"}, false));
}

TEST_F(TrayControllerTest, QuitMessageEndsTheLoopAtOnceAndLeavesTheAgent) {
  agent.child = host.quit_message = host.close = true;
  host.commands = {"quit"};
  agent.notice = Notice{"Enrolled", ""};
  agent.state = AgentStatus::stopped();
  EXPECT_EQ(pass(), std::make_pair(Transcript{}, false));
  EXPECT_EQ(host.commands.size(), 1u);
  EXPECT_TRUE(agent.notice.has_value());
}

TEST_F(TrayControllerTest, AnIconNeverTakenEndsTheTrayThroughTheFailureHookAndNothingElseRuns) {
  host.icon_failure = "the notification area refused it for 60.0 s";
  host.commands = {"stop"};
  testing::internal::CaptureStderr();
  EXPECT_THROW(controller->run_pass(), TaskAbandoned);  // as fail() ends a thread without the hook
  const std::string reported = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(reported.ends_with(":\nfailed to add the notification area icon: the notification area refused it for 60.0 s\n"))
      << reported;
  EXPECT_EQ(calls, Transcript{});
}

TEST_F(TrayControllerTest, NoticesShowOnceInformationOnlyWhenEnrolled) {
  const std::vector<std::pair<Notice, std::string>> cases = {
      {{"Enrolled", "Welcome."}, "info Enrolled|Welcome."},
      {{"Enrolled", ""}, "info Enrolled|"},
      {{"Enrollment failed", "No answer within 30 seconds."}, "error Enrollment failed|No answer within 30 seconds."},
      {{"enrolled", "x"}, "error enrolled|x"},
      {{"Enrolled ", "x"}, "error Enrolled |x"},
  };
  for (const auto& [notice, shown] : cases) {
    SCOPED_TRACE(shown);
    agent.notice = notice;
    EXPECT_EQ(lines(), (Transcript{"show_message " + shown, "wait 200"}));
    EXPECT_EQ(lines(), Transcript{"wait 200"});
  }
}

TEST_F(TrayControllerTest, AnyChangeOfTheSnapshotRebuildsMenuIconAndTooltipTogether) {
  const std::vector<std::tuple<const char*, std::function<void()>, Transcript>> cases = {
      {"launch_at_login", [&] { host.login = true; }, rebuilt("Running")},
      {"light_theme", [&] { host.light = true; }, rebuilt("Running", "light")},
      {"status", [&] { agent.state = AgentStatus::starting(); }, rebuilt("Starting" + kEllipsis)},
      {"failure_reason", [&] { agent.state = AgentStatus::failed("b"); }, rebuilt("Stopped: b")},
      {"hub_url", [&] { agent.hub = "https://other/"; }, rebuilt("Running")},
      {"hub_url_gone", [&] { agent.hub.reset(); }, rebuilt("Running")},
      {"hub_url_empty", [&] { agent.hub = ""; }, rebuilt("Running")},
      {"hub_connected", [&] { agent.connected = true; }, rebuilt("Running")},
      {"hub_connected_unknown", [&] { agent.connected.reset(); }, rebuilt("Running")},
  };
  for (const bool refuse : {false, true}) {
    for (const auto& [name, change, expected] : cases) {
      SCOPED_TRACE(std::string(name) + (refuse ? ", image and tooltip refused" : ""));
      host.login = host.light = host.refuse = false;
      agent.state = name == std::string("failure_reason") ? AgentStatus::failed("a") : AgentStatus::running();
      agent.hub = "https://h/";
      agent.connected = false;
      begin();
      host.refuse = refuse;
      change();
      EXPECT_EQ(lines(), expected + Transcript{"wait 200"});
      EXPECT_EQ(host.menu, build_tray_menu(TraySnapshot{agent.hub, agent.state, host.login, host.light, agent.connected}));
      // A refused look is offered again on each pass until the notification area takes it.
      if (refuse) {
        EXPECT_EQ(lines(), expected + Transcript{"wait 200"});
        host.refuse = false;
        EXPECT_EQ(lines(), expected + Transcript{"wait 200"});
      }
      EXPECT_EQ(lines(), Transcript{"wait 200"});
    }
  }
}

// The loop over the real supervisor, with in-process agent children.
TEST(TrayControllerOverTheSupervisor, CarriesTheLoopToTheRealSupervisor) {
  test::TempDir dir("tray");
  test::write_file(dir / "config.json", R"({"hub": {"url": "https://hub.example/ui"}})");
  test::FakeAgents agents(dir.path());
  agents.ignore_stop = true;  // the test decides when the child ends
  auto runtime = TaskRuntime::create().value();
  struct EndAll {  // whatever fails, no child and no task outlives the test
    std::function<void()> run;
    ~EndAll() { run(); }
  } end_all{[&] {
    for (const auto& child : agents.children()) child->end(1);
    runtime->shutdown();
  }};
  Transcript calls;
  // The test steps the status refresh itself.
  SupervisorOptions options{dir.path(), dir / "agent", {1h, 1h, 300ms, 5ms}, agents.launcher()};
  options.run_enrollment = [&](const Supervisor& s, const std::string& code, const std::string& hub) {
    calls.push_back("run_enrollment " + platform::path_text(s.state_directory()) + " " + code + " " + hub);
  };
  const Supervisor supervisor = Supervisor::create(runtime, std::move(options));
  FakeHost host(calls);
  TrayController controller(host, supervisor, paint_tag, 1ms);
  EXPECT_EQ(controller.first_look().tooltip, "tallowmered: Stopped");

  host.commands = {"start", "enroll", "log"};
  host.answer = "K7Q2";
  ASSERT_TRUE(controller.run_pass());
  ASSERT_TRUE(test::wait_until([&] { return supervisor.has_child(); }));
  supervisor.refresh_status();
  {
    std::lock_guard lock(supervisor.state()->mutex);
    supervisor.state()->notice = Notice{"Enrolled", "ok"};  // as an enrollment task leaves it
  }
  ASSERT_TRUE(controller.run_pass());
  host.commands = {"quit"};
  ASSERT_TRUE(controller.run_pass());
  agents.last_child()->end(0);
  ASSERT_TRUE(test::wait_until([&] { return !supervisor.has_child(); }));
  EXPECT_FALSE(controller.run_pass());
  EXPECT_EQ(agents.last_child()->stop_requests, 1);

  std::erase_if(calls, [](const std::string& line) {
    return line.starts_with("set_menu") || line.starts_with("set_icon") || line.starts_with("wait") ||
           line.starts_with("ask_text");
  });
  EXPECT_EQ(calls, (Transcript{"run_enrollment " + platform::path_text(dir.path()) + " K7Q2 https://hub.example/ui",
                               "open " + platform::path_text(supervisor.log_path()),
                               "set_tooltip tallowmered: Starting" + kEllipsis, "show_message info Enrolled|ok",
                               "set_tooltip tallowmered: Running", "set_tooltip tallowmered: Stopping" + kEllipsis,
                               "set_tooltip tallowmered: Stopped"}));
}

}  // namespace
}  // namespace tallow
