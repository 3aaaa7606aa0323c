#pragma once
// An icon as plain pixels, the form in which the notification area takes its image.

#include <cstdint>
#include <vector>

namespace tallow::platform {

// `width` × `height` pixels of 4 bytes each: red, green, blue and straight (not
// premultiplied) alpha; row-major, top row first.
struct IconImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;

  bool operator==(const IconImage&) const = default;
};

}  // namespace tallow::platform
