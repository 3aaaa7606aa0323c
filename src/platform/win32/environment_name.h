#pragma once
// Environment variable names compared the way Windows compares them.

#include <string_view>

namespace tallow::platform::win32 {

// Ordinal comparison ignoring case, as the system does when it looks a variable up.
bool same_variable_name(std::wstring_view a, std::wstring_view b);

// Whether `a` sorts before `b` in an environment block: ordinal, ignoring case.
bool variable_name_less(std::wstring_view a, std::wstring_view b);

}  // namespace tallow::platform::win32
