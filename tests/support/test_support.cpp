#include "agent_side/agent_side.h"
#include "support/test_support.h"

#include <atomic>
#include <fstream>
#include <random>
#include <sstream>
#include <thread>

#include "platform/environment.h"

namespace tallow::test {

TempDir::TempDir(std::string_view name_hint) {
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  const auto base = std::filesystem::temp_directory_path();
  for (;;) {
    const std::string name = std::string(name_hint) + "-" +
                             std::to_string(platform::current_process_id()) + "-" +
                             std::to_string(counter++) + "-" + std::to_string(random() % 100000);
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) {
      path_ = base / name;
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  std::filesystem::remove_all(path_, error);
}

void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

bool wait_until(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::optional<agent_side::FileLock> hold_lock(const std::filesystem::path& path) {
  std::optional<agent_side::FileLock> held;
  wait_until([&] {
    auto lock = agent_side::lock_file_exclusively(path);
    if (lock) held.emplace(std::move(lock).value());
    return held.has_value();
  });
  return held;
}

std::string encode_utf8(char32_t c) {
  std::string out;
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
  return out;
}

std::filesystem::path program_path(std::string_view name) {
  const auto self = platform::executable_path();
  const auto directory = self ? self->parent_path() : std::filesystem::current_path();
  return directory / (std::string(name) + std::string(platform::executable_suffix()));
}

}  // namespace tallow::test
