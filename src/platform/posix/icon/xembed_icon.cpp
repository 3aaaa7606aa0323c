#include "platform/posix/icon/xembed_icon.h"

#include <cstdlib>
#include <numeric>
#include <vector>

#include "platform/posix/icon/gtk_library.h"

namespace tallow::platform::posix {
namespace {

GObjectPtr<GdkPixbuf> pixbuf_of(const GtkFunctions& gtk, const IconImage& image) {
  // GdkPixbuf holds straight RGBA, rows top first: the pixels as they are.
  GBytes* bytes = g_bytes_new(image.rgba.data(), image.rgba.size());
  const auto width = static_cast<int>(image.width);
  GObjectPtr<GdkPixbuf> pixbuf(gtk.gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8, width,
                                                             static_cast<int>(image.height), width * 4));
  g_bytes_unref(bytes);
  return pixbuf;
}

// Long enough for a tray to draw its background under a newly docked icon.
constexpr std::chrono::milliseconds kPanelLookDelay{500};

}  // namespace

std::optional<bool> is_light_background(std::span<const Rgb> pixels) {
  if (pixels.empty()) return std::nullopt;
  const double luma = std::accumulate(pixels.begin(), pixels.end(), 0.0, [](double sum, const Rgb& pixel) {
    return sum + 0.2126 * pixel[0] + 0.7152 * pixel[1] + 0.0722 * pixel[2];
  });
  return luma / static_cast<double>(pixels.size()) > 127.5;
}

XembedIcon::XembedIcon(const GtkFunctions& gtk, PickedCommands& picks, std::function<void()> on_embedded_change)
    : gtk_(gtk), picks_(picks), on_embedded_change_(std::move(on_embedded_change)) {}

std::unique_ptr<XembedIcon> XembedIcon::create(const Menu& menu, const IconPicture& picture,
                                               const std::string& tooltip, PickedCommands& picks,
                                               std::function<void()> on_embedded_change) {
  const GtkFunctions* gtk = posix::gtk();
  if (!gtk) return nullptr;
  std::unique_ptr<XembedIcon> icon(new XembedIcon(*gtk, picks, std::move(on_embedded_change)));
  icon->menu_ = menu;
  icon->picture_ = picture;
  icon->icon_.reset(gtk->gtk_status_icon_new());
  GtkStatusIcon* status_icon = icon->icon_.get();
  icon->show_image_for(gtk->gtk_status_icon_get_size(status_icon));
  gtk->gtk_status_icon_set_name(status_icon, "tallowmere-tray");
  gtk->gtk_status_icon_set_title(status_icon, "tallowmered");
  gtk->gtk_status_icon_set_tooltip_text(status_icon, tooltip.c_str());
  // A left click ("activate") and a right click ("popup-menu") both open the menu; the
  // left one as of the press's own time: a menu opened as of "now" takes the release
  // that follows for a pick outside it, and closes at once.
  g_signal_connect(status_icon, "activate", G_CALLBACK(+[](GtkStatusIcon*, XembedIcon* self) {
                     self->open_menu(1, self->gtk_.gtk_get_current_event_time());
                   }),
                   icon.get());
  g_signal_connect(status_icon, "popup-menu",
                   G_CALLBACK(+[](GtkStatusIcon*, guint button, guint time, XembedIcon* self) {
                     self->open_menu(button, time);
                   }),
                   icon.get());
  g_signal_connect(status_icon, "notify::embedded",
                   G_CALLBACK(+[](GObject*, GParamSpec*, XembedIcon* self) { self->embedded_changed(); }), icon.get());
  g_signal_connect(status_icon, "size-changed",
                   G_CALLBACK(+[](GtkStatusIcon*, gint size, XembedIcon* self) -> gboolean {
                     self->show_image_for(size);
                     return TRUE;  // an image of that size, or the nearest, is shown: GTK need not scale
                   }),
                   icon.get());
  return icon;
}

XembedIcon::~XembedIcon() {
  g_signal_handlers_disconnect_by_data(icon_.get(), this);
  gtk_.gtk_status_icon_set_visible(icon_.get(), FALSE);
  if (popup_) gtk_.gtk_widget_destroy(popup_.get());
}

void XembedIcon::set_picture(const IconPicture& picture) {
  picture_ = picture;
  show_image_for(gtk_.gtk_status_icon_get_size(icon_.get()));
}

const IconImage* nearest_image(const IconPicture& picture, int size) {
  const IconImage* best = nullptr;
  const auto distance = [size](const IconImage& image) { return std::abs(static_cast<int>(image.height) - size); };
  for (const IconImage& image : picture.images) {
    if (!best || distance(image) < distance(*best) ||
        (distance(image) == distance(*best) && image.height > best->height)) {
      best = &image;
    }
  }
  return best;
}

void XembedIcon::show_image_for(int size) {
  const IconImage* best = nearest_image(picture_, size);
  if (!best) return;
  const GObjectPtr<GdkPixbuf> pixbuf = pixbuf_of(gtk_, *best);
  gtk_.gtk_status_icon_set_from_pixbuf(icon_.get(), pixbuf.get());
}

void XembedIcon::set_tooltip(const std::string& tooltip) {
  gtk_.gtk_status_icon_set_tooltip_text(icon_.get(), tooltip.c_str());
}

void XembedIcon::set_visible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  gtk_.gtk_status_icon_set_visible(icon_.get(), visible);
  if (!visible) panel_light_.reset();
}

void XembedIcon::look_at_panel_soon() {
  panel_look_ = main_context_once(kPanelLookDelay, [this] { look_at_panel(); });
}

void XembedIcon::look_at_panel() {
  GdkRectangle area{};
  if (!is_shown_in_tray() || !gtk_.gtk_status_icon_get_geometry(icon_.get(), nullptr, &area, nullptr) ||
      area.width < 2 || area.height < 2) {
    panel_light_.reset();
    return;
  }
  const GObjectPtr<GdkPixbuf> seen(
      gtk_.gdk_pixbuf_get_from_window(gtk_.gdk_get_default_root_window(), area.x, area.y, area.width, area.height));
  if (!seen) return;
  const guchar* pixels = gtk_.gdk_pixbuf_get_pixels(seen.get());
  const int stride = gtk_.gdk_pixbuf_get_rowstride(seen.get());
  const int channels = gtk_.gdk_pixbuf_get_n_channels(seen.get());
  const int right = gtk_.gdk_pixbuf_get_width(seen.get()) - 1;
  const int bottom = gtk_.gdk_pixbuf_get_height(seen.get()) - 1;
  std::vector<Rgb> corners;
  for (const auto& [x, y] : {std::pair{0, 0}, {right, 0}, {0, bottom}, {right, bottom}}) {
    const guchar* pixel = pixels + y * stride + x * channels;
    corners.push_back({pixel[0], pixel[1], pixel[2]});
  }
  panel_light_ = is_light_background(corners);
  // The tray's next look is painted for this panel.
  if (on_embedded_change_) on_embedded_change_();
}

bool XembedIcon::is_shown_in_tray() const { return visible_ && gtk_.gtk_status_icon_is_embedded(icon_.get()); }

void XembedIcon::embedded_changed() {
  if (is_shown_in_tray()) {
    look_at_panel_soon();
  } else {
    panel_light_.reset();
  }
  if (on_embedded_change_) on_embedded_change_();
}

void XembedIcon::open_menu(guint button, guint32 time) {
  // The menu shown last has closed by the time the icon is clicked again.
  if (popup_) gtk_.gtk_widget_destroy(popup_.get());
  popup_.reset(static_cast<GtkWidget*>(g_object_ref_sink(gtk_.gtk_menu_new())));
  GtkWidget* menu = popup_.get();
  for (const MenuItem& item : menu_) {
    GtkWidget* row = nullptr;
    // These labels take no access-key marker: the text shows as written.
    switch (item.kind) {
      case MenuItem::Kind::separator: row = gtk_.gtk_separator_menu_item_new(); break;
      case MenuItem::Kind::check:
        row = gtk_.gtk_check_menu_item_new_with_label(item.text.c_str());
        gtk_.gtk_check_menu_item_set_active(gtk_cast<GtkCheckMenuItem>(row), item.checked);
        break;
      case MenuItem::Kind::text: row = gtk_.gtk_menu_item_new_with_label(item.text.c_str()); break;
    }
    if (item.kind != MenuItem::Kind::separator) gtk_.gtk_widget_set_sensitive(row, item.enabled);
    if (const auto command = item.picked_command()) connect_pick(row, "activate", picks_, *command);
    gtk_.gtk_menu_shell_append(gtk_cast<GtkMenuShell>(menu), row);
  }
  gtk_.gtk_widget_show_all(menu);
  gtk_.gtk_menu_popup(gtk_cast<GtkMenu>(menu), nullptr, nullptr, gtk_.gtk_status_icon_position_menu, icon_.get(),
                      button, time);
}

}  // namespace tallow::platform::posix
