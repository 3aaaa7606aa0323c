#include "platform/win32/process/environment_block.h"

#include <windows.h>

#include <algorithm>

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

// Names compared as the system compares them when it looks a variable up: ordinally,
// ignoring case. The block must be sorted that way.
int compare_names(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE);
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
    return compare_names(a.name, b.name) == CSTR_LESS_THAN;
  });

  std::wstring block;
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (i + 1 < wide.size() && compare_names(wide[i].name, wide[i + 1].name) == CSTR_EQUAL) continue;
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
