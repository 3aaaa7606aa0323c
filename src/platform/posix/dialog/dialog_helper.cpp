#include "platform/posix/dialog/dialog_helper.h"

#include <gio/gio.h>

#include <atomic>
#include <thread>

#include "platform/environment.h"
#include "platform/posix/display_session.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/loop_quit.h"

namespace tallow::platform::posix {
namespace {

constexpr char kHelperName[] = "tallowmere-dialog";

// The thread that runs static initialization is the process's main thread, the one
// whose main context the tray's loop turns.
const std::thread::id main_thread = std::this_thread::get_id();

std::atomic<bool> dialogs_closed{false};

// The dialog program started with `arguments`, its standard output a pipe to the tray.
Result<GObjectPtr<GSubprocess>> start_helper(const std::vector<std::string>& arguments) {
  if (const DisplaySession session = current_display_session(); !session.x11 && !session.wayland) {
    return Error{"there is no display"};
  }
  if (dialogs_closed.load()) return Error{"the tray is closing"};
  const auto self = executable_path_or_error();
  if (!self) return self.error();
  const std::string program = (self.value().parent_path() / kHelperName).native();
  std::vector<const gchar*> argv{program.c_str()};
  for (const std::string& argument : arguments) argv.push_back(argument.c_str());
  argv.push_back(nullptr);
  GError* raw_error = nullptr;
  GObjectPtr<GSubprocess> process(g_subprocess_newv(argv.data(), G_SUBPROCESS_FLAGS_STDOUT_PIPE, &raw_error));
  const GErrorPtr error(raw_error);
  if (!process) return Error{error_text(error.get())};
  return process;
}

// What an ended program gave: communicate has read its output to the end and waited
// for its exit.
HelperOutcome outcome_of(GSubprocess* process, GBytes* output) {
  HelperOutcome outcome;
  if (g_subprocess_get_if_exited(process)) outcome.exit_status = g_subprocess_get_exit_status(process);
  if (output) {
    gsize size = 0;
    const auto* bytes = static_cast<const char*>(g_bytes_get_data(output, &size));
    outcome.output.assign(bytes ? bytes : "", size);
    g_bytes_unref(output);
  }
  return outcome;
}

}  // namespace

void close_dialogs_for_good() { dialogs_closed.store(true); }

Result<std::unique_ptr<HelperRun>> HelperRun::start(const std::vector<std::string>& arguments,
                                                    std::function<void(const HelperOutcome&)> on_done) {
  auto process = start_helper(arguments);
  if (!process) return process.error();
  std::unique_ptr<HelperRun> run(new HelperRun(std::move(process).value()));
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
        self->delivered_ = true;
        self->on_done_(outcome_of(G_SUBPROCESS(source), output));
      },
      run.get());
  return run;
}

void HelperRun::end() {
  if (!delivered_) g_subprocess_force_exit(process_.get());
}

HelperRun::~HelperRun() {
  g_cancellable_cancel(cancellable_.get());
  end();
}

std::optional<HelperOutcome> run_dialog_helper(const std::vector<std::string>& arguments) {
  if (std::this_thread::get_id() != main_thread) {
    auto process = start_helper(arguments);
    if (!process) return std::nullopt;
    GBytes* output = nullptr;
    g_subprocess_communicate(process.value().get(), nullptr, nullptr, &output, nullptr, nullptr);
    return outcome_of(process.value().get(), output);
  }
  std::optional<HelperOutcome> outcome;
  auto run = HelperRun::start(arguments, [&outcome](const HelperOutcome& ended) { outcome = ended; });
  if (!run) return std::nullopt;
  // A modal loop: everything else on the main context goes on while the window is up.
  bool ended = false;
  while (!outcome) {
    if ((loop_quit_posted() || dialogs_closed.load()) && !ended) {
      run.value()->end();
      ended = true;
    }
    g_main_context_iteration(g_main_context_default(), TRUE);
  }
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
