#include "support/posix/refused_inotify.h"

#include <dlfcn.h>
#include <sys/inotify.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>

namespace tallow::test {
namespace {

struct Refusal {
  bool instances = false;
  // Refused watches: those whose path ends in this; all when empty.
  std::optional<std::string> watches;
};

std::mutex& mutex() {
  static std::mutex kept;
  return kept;
}

Refusal& refusal() {
  // Preloaded, the program's environment switches it, once.
  static Refusal kept = [] {
    Refusal from_environment;
    const char* said = std::getenv("TALLOW_REFUSED_INOTIFY");
    if (said && std::string_view(said) == "instances") from_environment.instances = true;
    if (said && std::string_view(said) == "watches") from_environment.watches = "";
    return from_environment;
  }();
  return kept;
}

bool refuses_watch(const char* path) {
  std::lock_guard lock(mutex());
  const auto& name = refusal().watches;
  if (!name) return false;
  const std::string_view whole(path);
  return whole.size() >= name->size() && whole.substr(whole.size() - name->size()) == *name;
}

bool refuses_instance() {
  std::lock_guard lock(mutex());
  return refusal().instances;
}

template <typename Function>
Function* next_definition(const char* name) {
  return reinterpret_cast<Function*>(::dlsym(RTLD_NEXT, name));
}

}  // namespace

void refuse_inotify_watches(const std::string& name) {
  std::lock_guard lock(mutex());
  refusal().watches = name;
}

void refuse_no_inotify() {
  std::lock_guard lock(mutex());
  refusal() = {};
}

}  // namespace tallow::test

extern "C" int inotify_add_watch(int fd, const char* path, std::uint32_t mask) noexcept {
  if (tallow::test::refuses_watch(path)) {
    errno = ENOSPC;
    return -1;
  }
  static const auto real = tallow::test::next_definition<int(int, const char*, std::uint32_t)>("inotify_add_watch");
  return real(fd, path, mask);
}

extern "C" int inotify_init1(int flags) noexcept {
  if (tallow::test::refuses_instance()) {
    errno = EMFILE;
    return -1;
  }
  static const auto real = tallow::test::next_definition<int(int)>("inotify_init1");
  return real(flags);
}
