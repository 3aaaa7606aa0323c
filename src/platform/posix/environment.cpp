#include "platform/environment.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "common/text.h"
#include "platform/os_error.h"

extern char** environ;

namespace tallow::platform {

namespace {

const char* raw_variable(std::string_view name) {
  if (name.find('\0') != std::string_view::npos) return nullptr;
  return std::getenv(std::string(name).c_str());
}

// A program replaced while it runs (a package upgrade renames the new file over it)
// reads back as "PATH (deleted)"; the path names the new program, which is the one
// Launch at Login and the agent's lookup mean.
std::string without_deleted_mark(std::string link) {
  constexpr std::string_view kMark = " (deleted)";
  if (link.size() > kMark.size() && link.ends_with(kMark)) {
    std::string plain = link.substr(0, link.size() - kMark.size());
    struct stat status {};
    if (::lstat(link.c_str(), &status) != 0 && ::lstat(plain.c_str(), &status) == 0) return plain;
  }
  return link;
}

}  // namespace

std::optional<std::string> environment_variable(std::string_view name) {
  const char* value = raw_variable(name);
  if (!value || !is_valid_utf8(value)) return std::nullopt;
  return std::string(value);
}

std::optional<std::filesystem::path> environment_path(std::string_view name) {
  const char* value = raw_variable(name);
  if (!value) return std::nullopt;
  return std::filesystem::path(std::string(value));
}

std::vector<EnvironmentVariable> inherited_environment() {
  std::vector<EnvironmentVariable> inherited;
  for (char** entry = environ; entry && *entry; ++entry) {
    const std::string_view text(*entry);
    const auto separator = text.find('=');
    // An entry without "=" is no variable; passing it on as one would change it.
    if (separator == std::string_view::npos) continue;
    inherited.push_back({std::string(text.substr(0, separator)), std::string(text.substr(separator + 1))});
  }
  return inherited;
}

std::string variable_key(std::string_view name) { return std::string(name); }

Result<std::filesystem::path> executable_path_or_error() {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return last_os_error();
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      return std::filesystem::path(without_deleted_mark(std::move(buffer)));
    }
    if (buffer.size() >= (1U << 20)) return os_error(ENAMETOOLONG);
    buffer.resize(buffer.size() * 2);
  }
}

std::optional<std::filesystem::path> executable_path() {
  auto path = executable_path_or_error();
  if (!path) return std::nullopt;
  return std::move(path).value();
}

std::string path_text(const std::filesystem::path& path) { return sanitize_utf8(path.native()); }

std::string path_argument(const std::filesystem::path& path) { return path.native(); }

std::filesystem::path path_from_text(std::string_view text) {
  return std::filesystem::path(std::string(text));
}

std::uint32_t current_process_id() { return static_cast<std::uint32_t>(::getpid()); }

std::string_view executable_suffix() { return {}; }

}  // namespace tallow::platform
