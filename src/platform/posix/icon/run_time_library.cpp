#include "platform/posix/icon/run_time_library.h"

#include <gmodule.h>

namespace tallow::platform::posix {

bool load_library(const char* file, std::initializer_list<LibrarySymbol> symbols) {
  GModule* library = g_module_open(file, G_MODULE_BIND_LOCAL);
  if (!library) return false;
  g_module_make_resident(library);
  for (const LibrarySymbol& symbol : symbols) {
    if (!g_module_symbol(library, symbol.name, symbol.slot) || *symbol.slot == nullptr) return false;
  }
  return true;
}

}  // namespace tallow::platform::posix
