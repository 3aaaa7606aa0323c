// Until the StatusNotifierItem lands, the icon on Linux shows nothing: it only keeps the
// values it is given, so portable code links and runs. It is never added, never fails,
// and no command ever comes from it.

#include "platform/notification_icon.h"

namespace tallow::platform {

struct NotificationIcon::Impl {
  NotificationMenu menu;
  std::string tooltip;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;

  Result<void> keep_image(const RgbaPixels& image) {
    if (auto checked = check_rgba_pixels(image); !checked) return checked;
    width = image.width;
    height = image.height;
    pixels.assign(image.bytes.begin(), image.bytes.end());
    return {};
  }
};

NotificationIcon::NotificationIcon(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
NotificationIcon::NotificationIcon(NotificationIcon&&) noexcept = default;
NotificationIcon& NotificationIcon::operator=(NotificationIcon&&) noexcept = default;
NotificationIcon::~NotificationIcon() = default;

Result<NotificationIcon> NotificationIcon::create(NotificationMenu menu, const RgbaPixels& image,
                                                  std::string_view tooltip,
                                                  NotificationIconTiming /*timing*/) {
  auto impl = std::make_unique<Impl>();
  if (auto kept = impl->keep_image(image); !kept) return kept.error();
  impl->menu = std::move(menu);
  impl->tooltip = std::string(tooltip);
  return NotificationIcon(std::move(impl));
}

Result<void> NotificationIcon::set_menu(NotificationMenu menu) {
  impl_->menu = std::move(menu);
  return {};
}
Result<void> NotificationIcon::set_image(const RgbaPixels& image) { return impl_->keep_image(image); }
Result<void> NotificationIcon::set_tooltip(std::string_view tooltip) {
  impl_->tooltip = std::string(tooltip);
  return {};
}
void NotificationIcon::remove() {}
bool NotificationIcon::is_added() const { return false; }
std::optional<Error> NotificationIcon::add_failure() const { return std::nullopt; }
const NotificationMenu& NotificationIcon::menu() const { return impl_->menu; }
const std::string& NotificationIcon::tooltip() const { return impl_->tooltip; }

}  // namespace tallow::platform
