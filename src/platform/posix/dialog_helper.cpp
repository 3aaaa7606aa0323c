#include "platform/posix/dialog_helper.h"

#include <gio/gio.h>

#include <atomic>
#include <cstdlib>
#include <thread>

#include "platform/environment.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/loop_quit.h"

namespace tallow::platform::posix {
namespace {

constexpr char kHelperName[] = "tallowmere-dialog";

// The thread that runs static initialization is the process's main thread, the one
// whose main context the tray's loop turns.
const std::thread::id main_thread = std::this_thread::get_id();

std::atomic<bool> dialogs_closed{false};

struct Communication {
  bool done = false;
  GBytes* output = nullptr;
};

bool has_display() {
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  return (x11 && *x11) || (wayland && *wayland);
}

// The dialog program started with `arguments`, its standard output a pipe to the tray;
// null when there is nobody to answer or it cannot start.
GObjectPtr<GSubprocess> start_helper(const std::vector<std::string>& arguments) {
  if (!has_display() || dialogs_closed.load()) return nullptr;  // nobody could answer
  const auto self = executable_path();
  if (!self) return nullptr;
  const std::string program = (self->parent_path() / kHelperName).native();
  std::vector<const gchar*> argv{program.c_str()};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  return GObjectPtr<GSubprocess>(g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, nullptr));
}

HelperOutcome outcome_of(GSubprocess* process, GBytes* output) {
  HelperOutcome outcome;
  if (g_subprocess_get_if_exited(process)) outcome.exit_status = g_subprocess_get_exit_status(process);
  if (output) {
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(output, &size));
    outcome.output.assign(bytes ? bytes : "", size);
  }
  return outcome;
}

}  // namespace

void close_dialogs_for_good() { dialogs_closed.store(true); }

std::unique_ptr<HelperRun> HelperRun::start(const std::vector<std::string>& arguments,
                                            std::function<void(const HelperOutcome&)> on_done) {
  std::unique_ptr<HelperRun> run(new HelperRun());
  run->process_ = start_helper(arguments);
  if (!run->process_) return nullptr;
  run->on_done_ = std::move(on_done);
  g_subprocess_communicate_async(
      run->process_.get(), nullptr, run->cancellable_.get(),
      [](GObject* source, GAsyncResult* result, gpointer data) {
        GBytes* output = nullptr;
        GError* raw_error = nullptr;
        g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &output, nullptr, &raw_error);
        const GErrorPtr error(raw_error);
        // Cancelled: the run was destroyed, and `data` with it.
        if (error && g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
          if (output) g_bytes_unref(output);
          return;
        }
        auto* self = static_cast<HelperRun*>(data);
        // Standard output has ended; the exit follows at once.
        g_subprocess_wait(G_SUBPROCESS(source), nullptr, nullptr);
        const HelperOutcome outcome = outcome_of(G_SUBPROCESS(source), output);
        if (output) g_bytes_unref(output);
        self->running_ = false;
        self->on_done_(outcome);
      },
      run.get());
  return run;
}

HelperRun::~HelperRun() {
  g_cancellable_cancel(cancellable_.get());
  if (running_) g_subprocess_force_exit(process_.get());
}

std::optional<HelperOutcome> run_dialog_helper(const std::vector<std::string>& arguments) {
  GObjectPtr<GSubprocess> process = start_helper(arguments);
  if (!process) return std::nullopt;

  GBytes* raw_output = nullptr;
  if (std::this_thread::get_id() == main_thread) {
    Communication communication;
    g_subprocess_communicate_async(
        process.get(), nullptr, nullptr,
        [](GObject* source, GAsyncResult* result, gpointer data) {
          auto* state = static_cast<Communication*>(data);
          g_subprocess_communicate_finish(G_SUBPROCESS(source), result, &state->output, nullptr, nullptr);
          state->done = true;
        },
        &communication);
    // A modal loop: everything else on the main context goes on while the window is up.
    bool closed = false;
    while (!communication.done) {
      if ((loop_quit_posted() || dialogs_closed.load()) && !closed) {
        g_subprocess_force_exit(process.get());
        closed = true;
      }
      g_main_context_iteration(g_main_context_default(), TRUE);
    }
    raw_output = communication.output;
  } else {
    g_subprocess_communicate(process.get(), nullptr, nullptr, &raw_output, nullptr, nullptr);
  }
  // communicate has read standard output to its end; the exit follows at once.
  g_subprocess_wait(process.get(), nullptr, nullptr);
  const HelperOutcome outcome = outcome_of(process.get(), raw_output);
  if (raw_output) g_bytes_unref(raw_output);
  return outcome;
}

std::string cut_for_argument(std::string_view text, std::size_t most_bytes) {
  if (text.size() <= most_bytes) return std::string(text);
  constexpr std::string_view kEllipsis = "\xE2\x80\xA6";
  std::size_t end = most_bytes > kEllipsis.size() ? most_bytes - kEllipsis.size() : 0;
  // Back to the start of a character: never leave half of one.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return std::string(text.substr(0, end)) + std::string(kEllipsis);
}

}  // namespace tallow::platform::posix
