#include "platform/win32/environment_name.h"

#include <windows.h>

namespace tallow::platform::win32 {
namespace {

int compare_ignoring_case(std::wstring_view a, std::wstring_view b) {
  return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(),
                              static_cast<int>(b.size()), TRUE);
}

}  // namespace

bool same_variable_name(std::wstring_view a, std::wstring_view b) {
  return compare_ignoring_case(a, b) == CSTR_EQUAL;
}

bool variable_name_less(std::wstring_view a, std::wstring_view b) {
  return compare_ignoring_case(a, b) == CSTR_LESS_THAN;
}

}  // namespace tallow::platform::win32
