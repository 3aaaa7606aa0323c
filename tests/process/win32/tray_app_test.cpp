// The real tallowmere-tray.exe with the stand-in agent and a scratch state directory,
// driven as a person and Windows drive it: clicks on the icon open its menu, keys pick
// from it, text is typed into the dialog, message boxes are read and dismissed, and
// the control window gets WM_CLOSE and the session's end.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <list>
#include <optional>
#include <string>
#include <vector>

#include "common/text.h"
#include "agent/agent_locations.h"
#include "platform/environment.h"
#include "agent_side/agent_side.h"
#include "platform/process.h"
#include "platform/win32/scoped_handle.h"
#include "support/agent_fixture.h"
#include "support/test_support.h"
#include "support/win32/notification_icon_driver.h"
#include "support/win32/remote_probe.h"
#include "support/process_support.h"

namespace tallow::test::win32 {
namespace {

using namespace std::chrono_literals;
using platform::win32::ScopedHandle;
using Menu = std::vector<ShownMenuItem>;

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kRunValue[] = L"tallowmere";
constexpr auto kLimit = 60s;  // Wine under load is slow; conditions end the waits early

// A visible top-level window of class `class_name` that belongs to `process_id`.
HWND find_window_of(DWORD process_id, const wchar_t* class_name) {
  for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, class_name, nullptr));) {
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == process_id) return window;
  }
  return nullptr;
}

std::optional<std::wstring> run_value() {
  wchar_t data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(data);
}

void press_key(WORD key) {
  INPUT inputs[2] = {};
  for (INPUT& input : inputs) {
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
  }
  inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, inputs, sizeof(INPUT));
}

// Types text into the foreground window as Unicode key strokes.
void type_text(std::string_view text) {
  std::vector<INPUT> inputs;
  for (const char16_t unit : utf8_to_utf16(text)) {
    for (const DWORD up : {DWORD{0}, DWORD{KEYEVENTF_KEYUP}}) {
      INPUT input{};
      input.type = INPUT_KEYBOARD;
      input.ki.wScan = unit;
      input.ki.dwFlags = KEYEVENTF_UNICODE | up;
      inputs.push_back(input);
    }
  }
  SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

std::u16string field_text(HWND field) {
  std::u16string text(512, u'\0');
  const LRESULT length = SendMessageW(field, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  return text;
}

// One run of the tray program, ended by force if a test leaves it running.
class TrayProcess {
 public:
  explicit TrayProcess(const std::filesystem::path& program) {
    std::wstring command_line = L"\"" + program.wstring() + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (CreateProcessW(program.c_str(), command_line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &started)) {
      CloseHandle(started.hThread);
      process_.reset(started.hProcess);
      pid_ = started.dwProcessId;
    }
  }
  ~TrayProcess() {
    if (running()) TerminateProcess(process_.get(), 99);
  }
  TrayProcess(const TrayProcess&) = delete;
  TrayProcess& operator=(const TrayProcess&) = delete;

  DWORD pid() const { return pid_; }
  bool running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  // The exit code once the process has ended within `limit`.
  std::optional<DWORD> wait_exit(std::chrono::milliseconds limit = kLimit) const {
    DWORD code = 0;
    if (!process_ || WaitForSingleObject(process_.get(), static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process_.get(), &code)) {
      return std::nullopt;
    }
    return code;
  }

 private:
  ScopedHandle process_;
  DWORD pid_ = 0;
};

class TrayApp : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(state_);
    state_variable_.emplace("TALLOWMERE_STATE_DIRECTORY", platform::path_text(state_));
    listen_variable_.emplace(std::string(kListenVariable), std::nullopt);
    saved_run_value_ = run_value();
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
  }

  void TearDown() override {
    trays_.clear();
    for (const std::uint32_t pid : agent_pids()) {
      if (test::is_process_running(pid)) {
        ADD_FAILURE() << "agent " << pid << " outlived its tray";
        test::kill_process(pid);
      }
    }
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue);
    if (saved_run_value_) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kRunValue, REG_SZ, saved_run_value_->c_str(),
                      static_cast<DWORD>((saved_run_value_->size() + 1) * sizeof(wchar_t)));
    }
  }

  // The agent starts without enrollment.
  void allow_listen(std::string_view extra = "") {
    write_file(state_ / "env", "TALLOWMERE_LISTEN=127.0.0.1:7420\n" + std::string(extra));
  }

  TrayProcess& start_tray(const std::filesystem::path& program = program_path("tallowmere-tray")) {
    TrayProcess& tray = trays_.emplace_back(program);
    EXPECT_NE(tray.pid(), 0u) << "the tray did not start";
    icon_ = wait_for_notification_icon_window(tray.pid(), kLimit);
    EXPECT_NE(icon_, nullptr) << "the tray's icon never appeared";
    pid_ = tray.pid();
    return tray;
  }

  // Every agent that wrote launch.json so far (the file keeps the last one).
  std::vector<std::uint32_t> agent_pids() {
    const std::string text = read_file(state_ / "launch.json");
    const auto at = text.find("\"pid\":");
    if (at == std::string::npos) return {};
    return {static_cast<std::uint32_t>(std::stoul(text.substr(at + 6)))};
  }
  std::uint32_t agent_pid() {
    const auto pids = agent_pids();
    return pids.empty() ? 0 : pids.front();
  }

  // Clicks the icon and waits until the menu it opens can be read; the menu stays open.
  std::optional<std::vector<ProbedMenuItem>> open_menu() {
    click_notification_icon(icon_, MouseButton::left);
    popup_ = wait_for_open_menu(pid_, kLimit);
    if (popup_ == nullptr) return std::nullopt;
    std::optional<std::vector<ProbedMenuItem>> items;
    wait_until([&] { return (items = probe_open_menu(pid_)).has_value(); }, kLimit);
    return items;
  }

  void close_menu() {
    close_open_menu(popup_);
    EXPECT_TRUE(wait_for_menu_closed(popup_, kLimit));
  }

  // The menu as the user would see it now.
  Menu read_menu() {
    Menu menu;
    if (const auto items = open_menu()) {
      for (const ProbedMenuItem& item : *items) menu.push_back(item.item);
      close_menu();
    }
    return menu;
  }

  // Opens the menu again and again until `condition` holds for it; the last one read.
  Menu wait_for_menu(const std::function<bool(const Menu&)>& condition) {
    Menu menu;
    wait_until([&] { return condition(menu = read_menu()); }, kLimit);
    return menu;
  }
  Menu wait_for_status(std::string_view label) {
    return wait_for_menu([&](const Menu& menu) { return !menu.empty() && menu[0].label == label; });
  }

  // Opens the menu and picks the item labelled `label` with the keyboard.
  void pick(std::string_view label) {
    SCOPED_TRACE("picking " + std::string(label));
    const auto items = open_menu();
    ASSERT_TRUE(items);
    std::vector<bool> is_separator;
    std::optional<std::size_t> position;
    for (std::size_t i = 0; i < items->size(); ++i) {
      is_separator.push_back((*items)[i].item.separator);
      if ((*items)[i].item.label == label) position = i;
    }
    ASSERT_TRUE(position) << "no such item";
    for (std::size_t i = 0; i < down_presses_to(is_separator, *position); ++i) {
      PostMessageW(popup_, WM_KEYDOWN, VK_DOWN, 1);
    }
    // The highlight proves the keys landed where they should before Return picks.
    ASSERT_TRUE(wait_until([&] {
      const auto now = probe_open_menu(pid_);
      return now && now->size() > *position && (*now)[*position].highlighted;
    }, kLimit));
    PostMessageW(popup_, WM_KEYDOWN, VK_RETURN, 1);
    EXPECT_TRUE(wait_for_menu_closed(popup_, kLimit));
  }

  // Waits for the tray's message box, reads it and presses OK.
  ShownMessageBox dismiss_message_box(DWORD pid = 0) {
    pid = pid != 0 ? pid : pid_;
    HWND box = nullptr;
    EXPECT_TRUE(wait_until([&] { return (box = find_window_of(pid, L"#32770")) && IsWindowVisible(box); }, kLimit));
    std::optional<ShownMessageBox> shown;
    EXPECT_TRUE(wait_until([&] { return (shown = probe_message_box(pid)).has_value(); }, kLimit));
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(box); }, kLimit));
    return shown.value_or(ShownMessageBox{});
  }

  // Types `text` into the enrollment dialog and presses Enter.
  void answer_dialog(std::string_view text) {
    HWND dialog = nullptr;
    ASSERT_TRUE(wait_until([&] {
      dialog = find_window_of(pid_, L"tallowmereAsk");
      return dialog && GetForegroundWindow() == dialog;
    }, kLimit));
    const HWND field = GetDlgItem(dialog, 100);
    type_text(text);
    ASSERT_TRUE(wait_until([&] { return field_text(field) == utf8_to_utf16(text); }, kLimit));
    press_key(VK_RETURN);
    EXPECT_TRUE(wait_until([&] { return !IsWindow(dialog); }, kLimit));
  }

  HWND control_window(DWORD pid) { return find_window_of(pid, L"tallowmereTrayControl"); }

  TempDir scratch_{"tray-app"};
  std::filesystem::path state_ = scratch_ / "state";
  std::list<TrayProcess> trays_;
  HWND icon_ = nullptr;
  HWND popup_ = nullptr;
  DWORD pid_ = 0;

 private:
  std::optional<ScopedProcessVariable> state_variable_;
  std::optional<ScopedProcessVariable> listen_variable_;
  std::optional<std::wstring> saved_run_value_;
};

ShownMenuItem info(std::string label) { return shown_item(std::move(label), true); }
ShownMenuItem item(std::string label, bool checked = false) { return shown_item(std::move(label), false, checked); }
const ShownMenuItem sep = shown_separator();

// The menu's fixed tail, from "Show Log" on.
Menu tail(bool launch_at_login = false) {
  return {item("Show Log"), item("Open State Directory"), item("Launch at Login", launch_at_login), sep,
          item("Quit tallowmered")};
}
Menu concat(std::initializer_list<Menu> parts) {
  Menu menu;
  for (const Menu& part : parts) menu.insert(menu.end(), part.begin(), part.end());
  return menu;
}

TEST_F(TrayApp, AUserRunsTheAgentFromTheMenuThenQuits) {
  allow_listen();
  TrayProcess& tray = start_tray();
  const Menu running = concat({{info("Running"), sep, item("Stop"), item("Restart"), sep,
                                item("Enroll\u2026"), sep},
                               tail()});
  EXPECT_EQ(wait_for_status("Running"), running);
  const std::uint32_t first_agent = agent_pid();
  ASSERT_NE(first_agent, 0u);

  pick("Stop");
  EXPECT_EQ(wait_for_status("Stopped"),
            concat({{info("Stopped"), sep, item("Start"), sep, item("Enroll\u2026"), sep}, tail()}));
  EXPECT_TRUE(wait_until([&] { return !test::is_process_running(first_agent); }, kLimit));

  pick("Start");
  EXPECT_EQ(wait_for_status("Running"), running);
  const std::uint32_t second_agent = agent_pid();
  EXPECT_NE(second_agent, first_agent);

  pick("Restart");
  EXPECT_TRUE(wait_until([&] { return agent_pid() != second_agent; }, kLimit)) << "no new agent";
  EXPECT_EQ(wait_for_status("Running"), running);
  EXPECT_FALSE(test::is_process_running(second_agent));

  // Launch at Login: the Run value comes with the check mark and goes with it.
  pick("Launch at Login");
  EXPECT_TRUE(wait_until([] { return run_value().has_value(); }, kLimit));
  EXPECT_EQ(run_value().value_or(L""), L"\"" + program_path("tallowmere-tray").wstring() + L"\"");
  EXPECT_EQ(wait_for_menu([](const Menu& m) { return m.size() > 9 && m[9].checked; }),
            concat({{info("Running"), sep, item("Stop"), item("Restart"), sep, item("Enroll\u2026"), sep},
                    tail(true)}));
  pick("Launch at Login");
  EXPECT_TRUE(wait_until([] { return !run_value().has_value(); }, kLimit));
  EXPECT_EQ(wait_for_menu([](const Menu& m) { return m.size() > 9 && !m[9].checked; }), running);

  // Text without a code is refused at once, with the error icon.
  pick("Enroll\u2026");
  answer_dialog("  tallowmered.exe enroll --hub=https://x/  ");
  EXPECT_EQ(dismiss_message_box(),
            (ShownMessageBox{"error", "Enrollment failed",
                             "No enrollment code in \u201Ctallowmered.exe enroll --hub=https://x/\u201D."}));

  // The hub's own command line enrolls, and the agent is restarted under the hub.
  const std::uint32_t before_enrollment = agent_pid();
  pick("Enroll\u2026");
  answer_dialog("tallowmered enroll ABC-123 --hub=https://hub.example.test:8443/ui");
  EXPECT_EQ(dismiss_message_box(),
            (ShownMessageBox{"information", "Enrolled", "Enrolled with https://hub.example.test:8443/ui."}));
  EXPECT_TRUE(wait_until([&] { return agent_pid() != before_enrollment; }, kLimit)) << "not restarted";
  EXPECT_EQ(wait_for_menu([](const Menu& m) { return m.size() > 1 && m[0].label == "Running" &&
                                                      m[1].label.ends_with(", connected"); }),
            concat({{info("Running"), info("Hub: hub.example.test:8443, connected"), sep, item("Stop"),
                     item("Restart"), sep, item("Open Web UI"), item("Enroll Again\u2026"), sep},
                    tail()}));

  const std::uint32_t last_agent = agent_pid();
  pick("Quit tallowmered");
  EXPECT_EQ(tray.wait_exit(), DWORD{0});
  EXPECT_FALSE(test::is_process_running(last_agent));
  EXPECT_EQ(find_notification_icon_window(tray.pid()), nullptr);
}

TEST_F(TrayApp, ASecondTrayIsRefusedAndTheControlWindowEndsTheFirst) {
  allow_listen();
  TrayProcess& first = start_tray();
  wait_for_status("Running");
  const std::uint32_t agent = agent_pid();

  TrayProcess second(program_path("tallowmere-tray"));
  ASSERT_NE(second.pid(), 0u);
  EXPECT_EQ(dismiss_message_box(second.pid()),
            (ShownMessageBox{"information", "tallowmered", "tallowmered is already in the notification area."}));
  EXPECT_EQ(second.wait_exit(), DWORD{0});
  EXPECT_EQ(find_notification_icon_window(second.pid()), nullptr) << "the second tray added an icon";
  EXPECT_TRUE(first.running());
  EXPECT_TRUE(test::is_process_running(agent));
  EXPECT_EQ(read_menu()[0].label, "Running");

  // The control window is hidden and off the taskbar.
  const HWND control = control_window(first.pid());
  ASSERT_NE(control, nullptr);
  EXPECT_FALSE(IsWindowVisible(control));
  EXPECT_NE(GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
  PostMessageW(control, WM_CLOSE, 0, 0);
  EXPECT_EQ(first.wait_exit(), DWORD{0});
  EXPECT_FALSE(test::is_process_running(agent));
}

// Log-off ends the process after WM_ENDSESSION; Restart Manager's close before an update
// (ENDSESSION_CLOSEAPP) leaves the session running, so the tray must end itself.
TEST_F(TrayApp, TheSessionsEndStopsTheAgentWithinFourSecondsAndACloseForAnUpdateEndsTheTray) {
  struct Case {
    const char* name;
    LPARAM reason;
    bool tray_ends;
  };
  for (const Case& c : {Case{"log-off", ENDSESSION_LOGOFF, false}, Case{"closed for an update", ENDSESSION_CLOSEAPP, true}}) {
    SCOPED_TRACE(c.name);
    allow_listen();
    TrayProcess& tray = start_tray();
    wait_for_status("Running");
    const std::uint32_t agent = agent_pid();
    const HWND control = control_window(tray.pid());
    ASSERT_NE(control, nullptr);

    DWORD_PTR answer = 0;
    ASSERT_NE(SendMessageTimeoutW(control, WM_QUERYENDSESSION, 0, c.reason, SMTO_BLOCK, 20000, &answer), 0);
    EXPECT_EQ(answer, DWORD_PTR{TRUE}) << "the tray vetoed the session's end";
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_NE(SendMessageTimeoutW(control, WM_ENDSESSION, TRUE, c.reason, SMTO_BLOCK, 20000, &answer), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, 4500ms);
    EXPECT_FALSE(test::is_process_running(agent)) << "the agent outlived the session's end";
    if (c.tray_ends) {
      EXPECT_EQ(tray.wait_exit(5s), DWORD{0});
      EXPECT_LT(std::chrono::steady_clock::now() - sent, 5s);
    } else {
      // Windows would end the process now; here the tray lives on until asked to close.
      EXPECT_TRUE(tray.running());
      PostMessageW(control, WM_CLOSE, 0, 0);
      EXPECT_EQ(tray.wait_exit(), DWORD{0});
    }
  }
}

TEST_F(TrayApp, EachAgentStateShowsItsMenu) {
  const std::filesystem::path alone = scratch_ / "alone" / "tallowmere-tray.exe";
  std::filesystem::create_directories(alone.parent_path());
  std::filesystem::copy_file(program_path("tallowmere-tray"), alone);
  const std::string missing = "Stopped: " + platform::path_text(alone.parent_path() / "tallowmered.exe") +
                              " is missing";
  const std::string exited = "Stopped: exited (exit code: 3), see the log";
  const Menu no_actions_tail = concat({{sep, item("Enroll\u2026"), sep}, tail()});

  struct Case {
    std::string name;
    std::string env;  // the env file; none when empty
    bool hold_lock;
    std::filesystem::path program;
    Menu expected;
  };
  const std::vector<Case> cases = {
      {"started elsewhere", "TALLOWMERE_LISTEN=127.0.0.1:7420\n", true, program_path("tallowmere-tray"),
       concat({{info("Running (started elsewhere)")}, no_actions_tail})},
      {"failed: the agent ended by itself",
       "TALLOWMERE_LISTEN=127.0.0.1:7420\nTALLOWMERED_EXIT_AFTER_MS=300\nTALLOWMERED_EXIT_CODE=3\n", false,
       program_path("tallowmere-tray"),
       concat({{info(exited), sep, item("Start")}, no_actions_tail})},
      {"not enrolled", "", false, program_path("tallowmere-tray"),
       concat({{info("Not enrolled")}, no_actions_tail})},
      {"the agent is missing", "TALLOWMERE_LISTEN=127.0.0.1:7420\n", false, alone,
       concat({{info(missing), sep, item("Start")}, no_actions_tail})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code error;
    std::filesystem::remove(state_ / "env", error);
    std::filesystem::remove(state_ / "launch.json", error);
    if (!c.env.empty()) write_file(state_ / "env", c.env);

    std::optional<DWORD> holder;
    if (c.hold_lock) {
      auto started = tallow::agent_side::spawn_detached(
          program_path("lock_holder"), {platform::path_text(state_ / "tallowmered.lock"),
                                        platform::path_text(scratch_ / "ready"), platform::path_text(scratch_ / "release")});
      ASSERT_TRUE(started) << started.error().message;
      holder = started.value();
      ASSERT_TRUE(wait_until([&] { return std::filesystem::exists(scratch_ / "ready"); }, kLimit));
    }
    TrayProcess& tray = start_tray(c.program);
    EXPECT_EQ(wait_for_status(c.expected[0].label), c.expected);
    pick("Quit tallowmered");
    EXPECT_EQ(tray.wait_exit(), DWORD{0});
    trays_.clear();
    if (holder) {
      write_file(scratch_ / "release", "");
      EXPECT_TRUE(wait_until([&] { return !test::is_process_running(*holder); }, kLimit));
      std::filesystem::remove(scratch_ / "ready", error);
      std::filesystem::remove(scratch_ / "release", error);
    }
  }
}

}  // namespace
}  // namespace tallow::test::win32
