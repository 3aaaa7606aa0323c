// Holds the X display's keyboard and pointer, as another program's open menu, a
// virtual machine's window or a drag under way does, until SIGTERM. Says "grabbed" on
// standard output once it holds both.

#include <X11/Xlib.h>
#include <signal.h>

#include <cstdio>

int main() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  Display* display = XOpenDisplay(nullptr);
  if (!display) return 3;
  const Window root = DefaultRootWindow(display);
  if (XGrabKeyboard(display, root, False, GrabModeAsync, GrabModeAsync, CurrentTime) != GrabSuccess ||
      XGrabPointer(display, root, False, ButtonPressMask, GrabModeAsync, GrabModeAsync, None, None, CurrentTime) !=
          GrabSuccess) {
    return 4;
  }
  XSync(display, False);
  std::puts("grabbed");
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  // Closing the connection lets both go.
  XCloseDisplay(display);
  return 0;
}
