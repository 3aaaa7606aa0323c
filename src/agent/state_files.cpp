#include "agent/state_files.h"

#include <limits>

#include <nlohmann/json.hpp>

#include "common/text.h"
#include "platform/file.h"

namespace tallow {
namespace {

using Json = nlohmann::json;

// The agent writes flat files; anything nested deeper than this is not one of them.
constexpr std::size_t kMaxNesting = 64;

// The members the tray reads, wherever a document holds them.
struct PickedMembers {
  std::optional<std::string> hub_url;             // "hub" → "url", a string
  std::optional<std::uint64_t> pid;               // "pid", a non-negative integer literal
  std::optional<bool> hub_connected;              // "hub" → "connected", a boolean
};

// Walks a document once and keeps only the members above, so a large file costs
// neither a tree in memory nor time beyond one pass. It answers exactly as looking the
// members up in the whole parsed document would, including the last of duplicate
// members winning: a member's value is forgotten whenever its key turns up again.
class MemberPicker {
 public:
  // Where a value sits, as far as the picked members are concerned.
  enum class Place { root, hub, hub_url, hub_connected, pid, other };

  PickedMembers picked;

  bool null() { return true; }
  bool boolean(bool value) {
    if (next_ == Place::hub_connected) picked.hub_connected = value;
    return true;
  }
  bool number_integer(Json::number_integer_t) { return true; }
  bool number_unsigned(Json::number_unsigned_t value) {
    if (next_ == Place::pid) picked.pid = value;
    return true;
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return true; }
  bool string(Json::string_t& value) {
    if (next_ == Place::hub_url) picked.hub_url = std::move(value);
    return true;
  }
  bool binary(Json::binary_t&) { return true; }
  bool start_object(std::size_t) { return open(/*is_array=*/false); }
  bool start_array(std::size_t) { return open(/*is_array=*/true); }
  bool end_object() { return close(); }
  bool end_array() { return close(); }
  bool key(Json::string_t& name) {
    next_ = member_place(containers_.back().place, name);
    forget(next_);
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) { return false; }

 private:
  struct Container {
    Place place;
    bool is_array;
  };

  static Place member_place(Place container, std::string_view name) {
    if (container == Place::root && name == "hub") return Place::hub;
    if (container == Place::root && name == "pid") return Place::pid;
    if (container == Place::hub && name == "url") return Place::hub_url;
    if (container == Place::hub && name == "connected") return Place::hub_connected;
    return Place::other;
  }

  // A repeated key replaces the earlier member with all that was below it.
  void forget(Place place) {
    if (place == Place::hub || place == Place::hub_url) picked.hub_url.reset();
    if (place == Place::hub || place == Place::hub_connected) picked.hub_connected.reset();
    if (place == Place::pid) picked.pid.reset();
  }

  bool open(bool is_array) {
    if (containers_.size() >= kMaxNesting) return false;
    containers_.push_back(Container{next_, is_array});
    // Array elements have no names, so nothing inside an array is ever picked.
    next_ = Place::other;
    return true;
  }

  bool close() {
    containers_.pop_back();
    next_ = Place::other;
    return true;
  }

  std::vector<Container> containers_;
  Place next_ = Place::root;
};

// The picked members of one JSON value followed only by JSON white space; nothing for
// anything else.
std::optional<PickedMembers> pick_members(std::string_view bytes) {
  // JSON has no place for a raw NUL, and the parser would take one as the end of
  // the input, accepting a document with anything after it.
  if (bytes.find('\0') != std::string_view::npos) return std::nullopt;
  // The parser skips a byte-order mark; the agent's own reader refuses one, and the
  // tray must not show a hub the agent does not use.
  if (bytes.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  try {
    MemberPicker picker;
    if (!Json::sax_parse(bytes.begin(), bytes.end(), &picker)) return std::nullopt;
    return std::move(picker.picked);
  } catch (...) {
    // Exhausted memory or a library limit: the file simply reads as absent.
    return std::nullopt;
  }
}

std::optional<std::string> read_state_file(const std::filesystem::path& state_directory,
                                           std::string_view name) {
  return platform::read_regular_file(state_directory / name, kMaxStateFileBytes);
}

}  // namespace

std::optional<std::string> parse_hub_url(std::string_view json_bytes) {
  auto members = pick_members(json_bytes);
  if (!members) return std::nullopt;
  return std::move(members->hub_url);
}

std::optional<StatusFileRecord> parse_status_file(std::string_view json_bytes) {
  const auto members = pick_members(json_bytes);
  // Only a plain non-negative integer literal counts: -1, 12.0 and 1e3 do not.
  if (!members || !members->pid || *members->pid > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return StatusFileRecord{static_cast<std::uint32_t>(*members->pid), members->hub_connected};
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
