#pragma once
// Readable failures for the dialog's layout values.

#include <ostream>

#include "dialog/dialog_layout.h"

namespace tallow {

inline void PrintTo(const PixelRect& r, std::ostream* os) {
  *os << "(" << r.x << ", " << r.y << ") " << r.width << "x" << r.height;
}

inline void PrintTo(const PixelPoint& p, std::ostream* os) {
  *os << "(" << p.x << ", " << p.y << ")";
}

}  // namespace tallow
