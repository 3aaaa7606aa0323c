#pragma once
// Readers of the files the agent keeps in its state directory. They never fail:
// anything missing, unreadable or malformed reads as absent.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tallow {

inline constexpr std::string_view kConfigFileName = "config.json";
inline constexpr std::string_view kStatusFileName = "status.json";
inline constexpr std::string_view kLockFileName = "tallowmered.lock";
inline constexpr std::string_view kEnvFileName = "env";

// State files are tiny; anything larger than this is not the agent's and reads as absent.
inline constexpr std::size_t kMaxStateFileBytes = 16 * 1024 * 1024;

struct StatusFileRecord {
  std::uint32_t pid = 0;
  std::optional<bool> connected;
  bool operator==(const StatusFileRecord&) const = default;
};

struct EnvEntry {
  std::string key;
  std::string value;
  bool operator==(const EnvEntry&) const = default;
};

// The string at "hub" → "url" of config.json.
std::optional<std::string> read_hub_url(const std::filesystem::path& state_directory);

// The "pid" and "hub" → "connected" of status.json.
std::optional<StatusFileRecord> read_status_file(const std::filesystem::path& state_directory);

// Whether another process holds the lock on tallowmered.lock.
bool is_agent_lock_held(const std::filesystem::path& state_directory);

// The entries of the env file; none when it is missing, unreadable or not UTF-8.
std::vector<EnvEntry> read_env_file(const std::filesystem::path& state_directory);

// The parsers behind the readers, over the file's bytes.
std::optional<std::string> parse_hub_url(std::string_view json_bytes);
std::optional<StatusFileRecord> parse_status_file(std::string_view json_bytes);
std::vector<EnvEntry> parse_env_file(std::string_view text);

// The value of the last entry whose key is exactly `key`.
std::optional<std::string> env_file_value(const std::vector<EnvEntry>& entries, std::string_view key);

}  // namespace tallow
