#include "platform/posix/xembed_icon.h"

#include "platform/posix/gtk_library.h"

namespace tallow::platform::posix {
namespace {

GObjectPtr<GdkPixbuf> pixbuf_of(const GtkFunctions& gtk, const RgbaPixels& image) {
  // GdkPixbuf holds straight RGBA, rows top first: the pixels as they are.
  GBytes* bytes = g_bytes_new(image.bytes.data(), image.bytes.size());
  GObjectPtr<GdkPixbuf> pixbuf(gtk.gdk_pixbuf_new_from_bytes(bytes, GDK_COLORSPACE_RGB, TRUE, 8,
                                                             static_cast<int>(image.width),
                                                             static_cast<int>(image.height),
                                                             static_cast<int>(image.width) * 4));
  g_bytes_unref(bytes);
  return pixbuf;
}

void on_item_activate(GtkWidget*, gpointer command) { queue_picked_command(static_cast<const char*>(command)); }

}  // namespace

XembedIcon::XembedIcon(const GtkFunctions& gtk, std::function<void()> on_embedded_change)
    : gtk_(gtk), on_embedded_change_(std::move(on_embedded_change)) {}

std::unique_ptr<XembedIcon> XembedIcon::create(const Menu& menu, const RgbaPixels& image,
                                               const std::string& tooltip,
                                               std::function<void()> on_embedded_change) {
  const GtkFunctions* gtk = posix::gtk();
  if (!gtk) return nullptr;
  std::unique_ptr<XembedIcon> icon(new XembedIcon(*gtk, std::move(on_embedded_change)));
  icon->menu_ = menu;
  const GObjectPtr<GdkPixbuf> pixbuf = pixbuf_of(*gtk, image);
  icon->icon_.reset(gtk->gtk_status_icon_new_from_pixbuf(pixbuf.get()));
  gtk->gtk_status_icon_set_name(icon->icon_.get(), "tallowmere-tray");
  gtk->gtk_status_icon_set_title(icon->icon_.get(), "tallowmered");
  gtk->gtk_status_icon_set_tooltip_text(icon->icon_.get(), tooltip.c_str());
  // A left click ("activate") and a right click ("popup-menu") both open the menu.
  g_signal_connect(icon->icon_.get(), "activate", G_CALLBACK(&XembedIcon::on_activate), icon.get());
  g_signal_connect(icon->icon_.get(), "popup-menu", G_CALLBACK(&XembedIcon::on_popup_menu), icon.get());
  g_signal_connect(icon->icon_.get(), "notify::embedded", G_CALLBACK(&XembedIcon::on_embedded), icon.get());
  return icon;
}

XembedIcon::~XembedIcon() {
  g_signal_handlers_disconnect_by_data(icon_.get(), this);
  gtk_.gtk_status_icon_set_visible(icon_.get(), FALSE);
  if (popup_) {
    gtk_.gtk_widget_destroy(popup_);
    g_object_unref(popup_);
  }
}

void XembedIcon::set_image(const RgbaPixels& image) {
  const GObjectPtr<GdkPixbuf> pixbuf = pixbuf_of(gtk_, image);
  gtk_.gtk_status_icon_set_from_pixbuf(icon_.get(), pixbuf.get());
}

void XembedIcon::set_tooltip(const std::string& tooltip) {
  gtk_.gtk_status_icon_set_tooltip_text(icon_.get(), tooltip.c_str());
}

void XembedIcon::set_visible(bool visible) {
  if (visible == visible_) return;
  visible_ = visible;
  gtk_.gtk_status_icon_set_visible(icon_.get(), visible);
}

bool XembedIcon::is_embedded() const { return visible_ && gtk_.gtk_status_icon_is_embedded(icon_.get()); }

void XembedIcon::on_activate(GtkStatusIcon*, gpointer data) {
  static_cast<XembedIcon*>(data)->open_menu(1, 0);
}

void XembedIcon::on_popup_menu(GtkStatusIcon*, guint button, guint time, gpointer data) {
  static_cast<XembedIcon*>(data)->open_menu(button, time);
}

void XembedIcon::on_embedded(GObject*, GParamSpec*, gpointer data) {
  auto* self = static_cast<XembedIcon*>(data);
  if (self->on_embedded_change_) self->on_embedded_change_();
}

void XembedIcon::open_menu(guint button, guint32 time) {
  // The menu shown last has closed by the time the icon is clicked again.
  if (popup_) {
    gtk_.gtk_widget_destroy(popup_);
    g_object_unref(popup_);
  }
  popup_ = gtk_.gtk_menu_new();
  g_object_ref_sink(popup_);
  for (const MenuItem& item : menu_) {
    GtkWidget* row = nullptr;
    // These labels take no access-key marker: the text shows as written.
    switch (item.kind) {
      case MenuItem::Kind::separator:
        row = gtk_.gtk_separator_menu_item_new();
        break;
      case MenuItem::Kind::check:
        row = gtk_.gtk_check_menu_item_new_with_label(item.text.c_str());
        gtk_.gtk_check_menu_item_set_active(gtk_cast<GtkCheckMenuItem>(row), item.checked);
        break;
      case MenuItem::Kind::text:
        row = gtk_.gtk_menu_item_new_with_label(item.text.c_str());
        break;
    }
    if (item.kind != MenuItem::Kind::separator) gtk_.gtk_widget_set_sensitive(row, item.enabled);
    if (const auto command = item.picked_command()) {
      g_signal_connect_data(row, "activate", G_CALLBACK(on_item_activate), g_strndup(command->data(), command->size()),
                            [](gpointer copy, GClosure*) { g_free(copy); }, GConnectFlags(0));
    }
    gtk_.gtk_menu_shell_append(gtk_cast<GtkMenuShell>(popup_), row);
  }
  gtk_.gtk_widget_show_all(popup_);
  gtk_.gtk_menu_popup(gtk_cast<GtkMenu>(popup_), nullptr, nullptr, gtk_.gtk_status_icon_position_menu, icon_.get(),
                      button, time);
}

}  // namespace tallow::platform::posix
