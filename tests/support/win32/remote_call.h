#pragma once
// Running a function of a DLL inside another process, on a thread started there: the
// DLL is loaded into that process first when it is not there yet. For tests and
// benchmarks that must look at a program from inside; the program must be one this
// process may debug (its own child, or the same user's).

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>

namespace tallow::test::win32 {

// Calls `function` (a DWORD WINAPI (void*) export of `dll`) in process `process_id`
// with a pointer to a copy of `argument`, NUL-terminated, and waits at most `limit_ms`
// for it. Its return value, or none when it could not be run or did not end in time.
std::optional<DWORD> call_in_process(DWORD process_id, const std::filesystem::path& dll,
                                     const char* function, const std::wstring& argument,
                                     DWORD limit_ms = 20000);

}  // namespace tallow::test::win32
