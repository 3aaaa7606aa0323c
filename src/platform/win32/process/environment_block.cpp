#include "platform/win32/process/environment_block.h"

#include <algorithm>

#include "platform/win32/environment_name.h"
#include "platform/win32/wide_text.h"

namespace tallow::platform::win32 {
namespace {

struct WideVariable {
  std::wstring name;
  std::wstring value;
};

bool can_exist(const WideVariable& variable) {
  return !variable.name.empty() && variable.name.find(L'\0') == std::wstring::npos &&
         variable.name.find(L'=', 1) == std::wstring::npos &&
         variable.value.find(L'\0') == std::wstring::npos;
}

}  // namespace

std::wstring environment_block(const std::vector<EnvironmentVariable>& variables) {
  std::vector<WideVariable> wide;
  wide.reserve(variables.size());
  for (const auto& variable : variables) {
    WideVariable converted{wide_from_utf8(variable.name), wide_from_utf8(variable.value)};
    if (can_exist(converted)) wide.push_back(std::move(converted));
  }

  // Stable, so that among equal names the later one stays last and is the one kept.
  std::stable_sort(wide.begin(), wide.end(), [](const WideVariable& a, const WideVariable& b) {
    return variable_name_less(a.name, b.name);
  });

  std::wstring block;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (i + 1 < wide.size() && same_variable_name(wide[i].name, wide[i + 1].name)) continue;
    block += wide[i].name;
    block += L'=';
    block += wide[i].value;
    block += L'\0';
  }
  // An empty block still needs its two terminators.
  if (block.empty()) block += L'\0';
  block += L'\0';
  return block;
}

}  // namespace tallow::platform::win32
