#pragma once
// The shared record between bench/notify_recorder.cpp, inside the tray, and
// bench/tray_latency.cpp: each change the tray handed the notification area.

#include <windows.h>

inline constexpr LONG kNotifyRecordCapacity = 16384;

// One NIM_MODIFY the tray made: its flags, and QueryPerformanceCounter before and after.
struct NotifyCall {
  UINT flags;
  LONGLONG before;
  LONGLONG after;
};

struct NotifyRecord {
  volatile LONG count;  // entries written so far
  NotifyCall calls[kNotifyRecordCapacity];
};
