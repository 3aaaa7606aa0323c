#include "platform/win32/process/inherited_handles.h"

#include "platform/os_error.h"

namespace tallow::platform::win32 {

Result<std::unique_ptr<InheritedHandles>> InheritedHandles::create(std::vector<HANDLE> handles) {
  std::unique_ptr<InheritedHandles> result(new InheritedHandles());
  result->handles_ = std::move(handles);

  SIZE_T size = 0;
  // The first call only measures, and reports that as a failure.
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  if (size == 0) return last_os_error();
  result->storage_ = std::make_unique<char[]>(size);
  auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(result->storage_.get());
  if (!InitializeProcThreadAttributeList(list, 1, 0, &size)) return last_os_error();
  result->list_ = list;

  if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                 result->handles_.data(),
                                 result->handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
    return last_os_error();
  }
  return result;
}

InheritedHandles::~InheritedHandles() {
  if (list_) DeleteProcThreadAttributeList(list_);
}

}  // namespace tallow::platform::win32
