#pragma once
// An icon as plain pixels, the form in which the notification area takes its image.

#include <cstdint>
#include <string>
#include <vector>

#include "common/result.h"

namespace tallow::platform {

// `width` × `height` pixels of 4 bytes each: red, green, blue and straight (not
// premultiplied) alpha; row-major, top row first.
struct IconImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgba;

  bool operator==(const IconImage&) const = default;
};

// An icon's picture in every form a notification area may take it: the name of a themed
// icon, for those that draw named icons in their own colours and sizes (empty: none),
// and the same picture in pixels at one or more sizes, for those that take pixels.
struct IconPicture {
  std::string name;
  std::vector<IconImage> images;

  bool operator==(const IconPicture&) const = default;
};

// Fails unless both sides are at least 1 and `rgba` holds exactly width × height × 4 bytes.
Result<void> check_icon_image(const IconImage& image);
// Fails unless the picture has an image and every image passes check_icon_image.
Result<void> check_icon_picture(const IconPicture& picture);

}  // namespace tallow::platform
