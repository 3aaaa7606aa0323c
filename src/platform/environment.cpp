// The parts of the environment every platform shares: which variables can be set, the
// merge of overrides into the inherited environment, and paths that survive as text.

#include "platform/environment.h"

#include <unordered_map>

namespace tallow::platform {

bool can_be_variable(const EnvironmentVariable& variable) {
  return !variable.name.empty() && variable.name.find_first_of(std::string_view("=\0", 2)) == std::string::npos &&
         variable.value.find('\0') == std::string::npos;
}

std::vector<EnvironmentVariable> environment_with(const std::vector<EnvironmentVariable>& overrides) {
  std::vector<EnvironmentVariable> result = inherited_environment();
  const std::size_t inherited = result.size();
  struct Seen {
    std::size_t first;  // where the name first appears in `result`
    bool overridden = false;
  };
  std::unordered_map<std::string, Seen> seen;
  std::vector<std::string> keys;
  keys.reserve(inherited);
  for (std::size_t i = 0; i < inherited; ++i) {
    keys.push_back(variable_key(result[i].name));
    seen.try_emplace(keys.back(), Seen{i});
  }
  for (const EnvironmentVariable& variable : overrides) {
    if (!can_be_variable(variable)) continue;
    const auto [place, added] = seen.try_emplace(variable_key(variable.name), Seen{result.size()});
    place->second.overridden = true;
    if (added) {
      result.push_back(variable);
    } else {
      result[place->second.first].value = variable.value;
    }
  }
  // A later inherited duplicate of an overridden name would shadow or confuse the
  // override, so only the first one stays.
  std::vector<EnvironmentVariable> kept;
  kept.reserve(result.size());
  for (std::size_t i = 0; i < result.size(); ++i) {
    if (i < inherited) {
      const Seen& name = seen.at(keys[i]);
      if (name.overridden && name.first != i) continue;
    }
    kept.push_back(std::move(result[i]));
  }
  return kept;
}

Result<std::string> program_path_text(const std::filesystem::path& program) {
  std::string text = path_text(program);
  if (path_from_text(text).native() != program.native()) {
    return Error{"The program's path is not valid Unicode: " + text};
  }
  return text;
}

}  // namespace tallow::platform
