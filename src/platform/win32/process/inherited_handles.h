#pragma once
// A process-creation attribute list naming the only handles a child may inherit.

#include <windows.h>

#include <memory>
#include <vector>

#include "common/result.h"

namespace tallow::platform::win32 {

// Without the list CreateProcessW with bInheritHandles passes every inheritable
// handle of the process, including those other threads create meanwhile.
class InheritedHandles {
 public:
  // `handles` must be inheritable, distinct, and stay open until the child is created.
  static Result<std::unique_ptr<InheritedHandles>> create(std::vector<HANDLE> handles);
  ~InheritedHandles();
  InheritedHandles(const InheritedHandles&) = delete;
  InheritedHandles& operator=(const InheritedHandles&) = delete;

  // For STARTUPINFOEXW::lpAttributeList.
  LPPROC_THREAD_ATTRIBUTE_LIST get() const { return list_; }

 private:
  InheritedHandles() = default;

  std::vector<HANDLE> handles_;  // the attribute points into this array
  std::unique_ptr<char[]> storage_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;  // set once initialized
};

}  // namespace tallow::platform::win32
