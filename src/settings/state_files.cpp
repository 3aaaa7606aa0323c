#include "settings/state_files.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "platform/file.h"

namespace tallow {
namespace {

using Json = nlohmann::json;

// One JSON value followed only by white space, or nothing.
std::optional<Json> parse_document(std::string_view bytes) {
  // JSON has no place for a raw NUL, and the parser would take one as the end of
  // the input, accepting a document with anything after it.
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  try {
    Json document = Json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
    if (document.is_discarded()) return std::nullopt;
    return document;
  } catch (...) {
    // Exhausted memory or a library limit: the file simply reads as absent.
    return std::nullopt;
  }
}

// The member `name` of an object, or null for anything else.
const Json* member(const Json* value, const char* name) {
  if (value == nullptr || !value->is_object()) return nullptr;
  const auto found = value->find(name);
  return found == value->end() ? nullptr : &*found;
}

std::optional<std::string> read_state_file(const std::filesystem::path& state_directory,
                                           std::string_view name) {
  return platform::read_regular_file(state_directory / name, kMaxStateFileBytes);
}

}  // namespace

std::optional<std::string> parse_hub_url(std::string_view json_bytes) {
  const auto document = parse_document(json_bytes);
  if (!document) return std::nullopt;
  const Json* url = member(member(&*document, "hub"), "url");
  if (url == nullptr || !url->is_string()) return std::nullopt;
  return url->get<std::string>();
}

std::optional<StatusFileRecord> parse_status_file(std::string_view json_bytes) {
  const auto document = parse_document(json_bytes);
  if (!document) return std::nullopt;
  // Only a plain non-negative integer literal counts: -1, 12.0 and 1e3 do not.
  const Json* pid = member(&*document, "pid");
  if (pid == nullptr || !pid->is_number_unsigned()) return std::nullopt;
  const auto pid_value = pid->get<std::uint64_t>();
  if (pid_value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;

  StatusFileRecord record;
  record.pid = static_cast<std::uint32_t>(pid_value);
  const Json* connected = member(member(&*document, "hub"), "connected");
  if (connected != nullptr && connected->is_boolean()) record.connected = connected->get<bool>();
  return record;
}

std::optional<std::string> read_hub_url(const std::filesystem::path& state_directory) {
  const auto bytes = read_state_file(state_directory, kConfigFileName);
  return bytes ? parse_hub_url(*bytes) : std::nullopt;
}

std::optional<StatusFileRecord> read_status_file(const std::filesystem::path& state_directory) {
  const auto bytes = read_state_file(state_directory, kStatusFileName);
  return bytes ? parse_status_file(*bytes) : std::nullopt;
}

bool is_agent_lock_held(const std::filesystem::path& state_directory) {
  return platform::is_file_locked_elsewhere(state_directory / kLockFileName);
}

std::vector<EnvEntry> parse_env_file(std::string_view text) {
  std::vector<EnvEntry> entries;
  while (!text.empty()) {
    const std::size_t newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text = newline == std::string_view::npos ? std::string_view() : text.substr(newline + 1);
    if (newline != std::string_view::npos && !line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }

    line = trim_white_space(line);
    if (line.empty() || line.front() == '#') continue;
    if (line.starts_with("export ")) line.remove_prefix(7);

    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) continue;
    std::string_view key = line.substr(0, equals);
    std::string_view value = line.substr(equals + 1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
      value = value.substr(1, value.size() - 2);
    }
    entries.push_back(EnvEntry{std::string(key), std::string(value)});
  }
  return entries;
}

std::vector<EnvEntry> read_env_file(const std::filesystem::path& state_directory) {
  const auto bytes = read_state_file(state_directory, kEnvFileName);
  if (!bytes || !is_valid_utf8(*bytes)) return {};
  return parse_env_file(*bytes);
}

std::optional<std::string> env_file_value(const std::vector<EnvEntry>& entries,
                                          std::string_view key) {
  for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
    if (entry->key == key) return entry->value;
  }
  return std::nullopt;
}

}  // namespace tallow
