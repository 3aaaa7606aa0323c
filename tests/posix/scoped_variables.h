#pragma once
// Environment variables set (or unset) for one test and restored after it.

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tallow::test {

class ScopedVariables {
 public:
  ScopedVariables() = default;
  ScopedVariables(const ScopedVariables&) = delete;
  ScopedVariables& operator=(const ScopedVariables&) = delete;
  ~ScopedVariables() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) assign(it->first, it->second);
  }

  // Sets `name` to `value`, or unsets it when there is none.
  void set(const std::string& name, const std::optional<std::string>& value) {
    const char* old = ::getenv(name.c_str());
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    assign(name, value);
  }

 private:
  static void assign(const std::string& name, const std::optional<std::string>& value) {
    if (value) {
      ::setenv(name.c_str(), value->c_str(), 1);
    } else {
      ::unsetenv(name.c_str());
    }
  }

  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace tallow::test
