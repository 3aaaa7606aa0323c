#include "tray/tray_app.h"

#include <optional>
#include <string>

#include "common/failure.h"
#include "agent/agent_locations.h"
#include "tasks/task_runtime.h"
#include "platform/desktop.h"
#include "platform/main_loop.h"
#include "platform/session_control.h"
#include "platform/single_instance.h"
#include "tray/platform_tray_host.h"
#include "tray/rook_icon.h"

namespace tallow {

int run_tray_app(const TrayAppTimings& timings) {
  install_failure_hook(
      [](const std::string& text) { platform::show_message(kFailureCaption, text, /*is_error=*/true); });

  // Held until the process ends, so a second tray is refused also while this one waits
  // for its agent to stop. Nothing else exists yet when it is refused.
  const platform::SingleInstance instance = platform::SingleInstance::claim();
  if (instance.state() == platform::SingleInstance::Claim::already_running) {
    platform::show_message(kAlreadyRunningCaption, kAlreadyRunningText, /*is_error=*/false);
    return 0;
  }

  auto runtime = TaskRuntime::create();
  if (!runtime) fail("the task runtime failed to start: " + runtime.error().message);

  SupervisorOptions supervisor_options;
  supervisor_options.state_directory = resolve_state_directory();
  supervisor_options.agent_path = resolve_agent_path();
  supervisor_options.timings = timings.supervisor;
  // The loop may sleep until something changes; the agent's record is one such thing.
  supervisor_options.on_change = &platform::wake_main_loop;
  supervisor_options.follow_state_directory = true;
  const Supervisor supervisor = Supervisor::create(runtime.value(), std::move(supervisor_options));

  const auto masks = build_rook_masks(platform::notification_icon_sizes());
  if (!masks) fail(masks.error().message);

  {
    PlatformTrayHost host(timings.icon);
    // The loop's bound where a change cannot end its wait: Windows tells of none and is
    // looked at on its own quick pace; on Linux only a Launch at Login entry the system
    // refuses to watch goes untold, looked at on the pace of the state directory's own
    // fallback. Otherwise the wait has no bound (PlatformTrayHost::wait_for_input).
    const auto input_wait =
        platform::changes_wake_main_loop()
            ? std::chrono::duration_cast<std::chrono::milliseconds>(timings.supervisor.refresh_interval)
            : timings.input_wait;
    TrayController controller(
        host, supervisor,
        [&masks](const AgentStatus& status, std::optional<bool> light_theme) {
          return render_rook_picture(masks.value(), status, light_theme);
        },
        input_wait);
    // A refused add is retried for a while; this fails only when no icon can exist at all.
    if (auto shown = host.show(controller.first_look()); !shown) {
      fail(std::string(kIconFailure) + shown.error().message);
    }

    // How other programs and the session's end reach the tray. The session's end stops
    // the agent and waits a few seconds for it, inside the control's message handling;
    // the loop does not run again before the process ends. Without the control the tray
    // still works; only close and session-end requests are lost.
    std::optional<platform::SessionControl> session;
    if (auto control = platform::SessionControl::create([supervisor] { supervisor.stop_and_wait(); })) {
      session.emplace(std::move(control).value());
      host.listen_to(*session);
    }

    supervisor.start();
    controller.run();

    // The icon leaves the notification area and the control stops listening before
    // the runtime goes, so nothing reaches a supervisor that is shutting down.
    host.remove_icon();
  }
  runtime.value()->shutdown();
  return 0;
}

}  // namespace tallow
