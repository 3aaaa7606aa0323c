#include "platform/posix/icon/status_notifier_item.h"

#include "platform/icon_bitmaps.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {
namespace {

constexpr char kInterface[] = "org.kde.StatusNotifierItem";

constexpr char kIntrospection[] = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconAccessibleDesc" type="s" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>
</node>)xml";

GDBusInterfaceInfo* interface_info() {
  // Parsed once; the node keeps the interface alive for the life of the process.
  static GDBusNodeInfo* const node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  return node->interfaces[0];
}

GVariant* pixmap_array(const std::vector<ItemPixmap>& pixmaps) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (const ItemPixmap& pixmap : pixmaps) {
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(), pixmap.argb.size(), 1);
    g_variant_builder_add(&builder, "(ii@ay)", pixmap.width, pixmap.height, bytes);
  }
  return g_variant_builder_end(&builder);
}

}  // namespace

std::vector<ItemPixmap> item_pixmaps(const std::vector<IconImage>& images) {
  std::vector<ItemPixmap> pixmaps;
  pixmaps.reserve(images.size());
  for (const IconImage& image : images) {
    pixmaps.push_back({static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.height),
                       status_notifier_pixmap(image)});
  }
  return pixmaps;
}

StatusNotifierItem::StatusNotifierItem(GDBusConnection* bus, std::string title, std::string menu_path,
                                       std::string icon_theme_path, std::function<void()> on_menu_wanted)
    : bus_(bus), title_(std::move(title)), menu_path_(std::move(menu_path)),
      icon_theme_path_(std::move(icon_theme_path)), on_menu_wanted_(std::move(on_menu_wanted)) {}

Result<std::unique_ptr<StatusNotifierItem>> StatusNotifierItem::create(GDBusConnection* bus, std::string title,
                                                                       std::string menu_path,
                                                                       std::string icon_theme_path,
                                                                       std::function<void()> on_menu_wanted) {
  std::unique_ptr<StatusNotifierItem> item(new StatusNotifierItem(
      bus, std::move(title), std::move(menu_path), std::move(icon_theme_path), std::move(on_menu_wanted)));
  static const GDBusInterfaceVTable vtable = {&StatusNotifierItem::call_method,
                                              &StatusNotifierItem::get_property, nullptr, {}};
  GError* raw_error = nullptr;
  item->registration_ = g_dbus_connection_register_object(bus, kStatusNotifierItemPath, interface_info(),
                                                          &vtable, item.get(), nullptr, &raw_error);
  const GErrorPtr error(raw_error);
  if (item->registration_ == 0) {
    return Error{std::string("the notification item cannot be put on the session bus: ") +
                 error_text(error.get())};
  }
  // Hosts read the item under the connection's own name. A well-known name of its own
  // ("org.kde.StatusNotifierItem-PID-N") is what GNOME's AppIndicator extension
  // watches for its owner while it reads the item, and that watch, answering after the
  // item's properties, wipes them and drops the item, over and over (seen in most runs).
  item->bus_name_ = g_dbus_connection_get_unique_name(bus);
  return item;
}

StatusNotifierItem::~StatusNotifierItem() { g_dbus_connection_unregister_object(bus_, registration_); }

void StatusNotifierItem::set_icon(std::string name, const std::vector<IconImage>& images) {
  std::vector<ItemPixmap> pixmaps = item_pixmaps(images);
  if (name == icon_name_ && pixmaps == pixmaps_) return;
  icon_name_ = std::move(name);
  pixmaps_ = std::move(pixmaps);
  emit("NewIcon");
}

void StatusNotifierItem::set_tooltip(std::string tooltip) {
  if (tooltip == tooltip_) return;
  tooltip_ = std::move(tooltip);
  emit("NewToolTip");
}

void StatusNotifierItem::set_status(std::string status) {
  if (status == status_) return;
  status_ = std::move(status);
  emit("NewStatus", g_variant_new("(s)", status_.c_str()));
}

void StatusNotifierItem::emit(const char* signal, GVariant* parameters) {
  g_dbus_connection_emit_signal(bus_, nullptr, kStatusNotifierItemPath, kInterface, signal, parameters,
                                nullptr);
}

GVariant* StatusNotifierItem::get_property(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                           const gchar* property, GError**, gpointer data) {
  return static_cast<const StatusNotifierItem*>(data)->property(property);
}

GVariant* StatusNotifierItem::property(const gchar* name) const {
  const std::string_view wanted(name);
  if (wanted == "Category") return g_variant_new_string("ApplicationStatus");
  if (wanted == "Id") return g_variant_new_string("tallowmere-tray");
  if (wanted == "Title") return g_variant_new_string(title_.c_str());
  if (wanted == "Status") return g_variant_new_string(status_.c_str());
  if (wanted == "WindowId") return g_variant_new_int32(0);
  if (wanted == "IconName") return g_variant_new_string(icon_name_.c_str());
  if (wanted == "IconPixmap") return pixmap_array(pixmaps_);
  if (wanted == "IconThemePath") return g_variant_new_string(icon_theme_path_.c_str());
  if (wanted == "IconAccessibleDesc") return g_variant_new_string(tooltip_.c_str());
  if (wanted == "OverlayIconPixmap" || wanted == "AttentionIconPixmap") return pixmap_array({});
  if (wanted == "ToolTip") {
    return g_variant_new("(s@a(iiay)ss)", "", pixmap_array({}), tooltip_.c_str(), "");
  }
  // Every click shows the menu, as on Windows; hosts open it themselves.
  if (wanted == "ItemIsMenu") return g_variant_new_boolean(TRUE);
  if (wanted == "Menu") return g_variant_new_object_path(menu_path_.c_str());
  // No overlay, attention icon or movie.
  return g_variant_new_string("");
}

void StatusNotifierItem::call_method(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                                     const gchar* method, GVariant*, GDBusMethodInvocation* invocation,
                                     gpointer data) {
  auto* self = static_cast<StatusNotifierItem*>(data);
  const std::string_view name(method);
  // Scrolling over the icon means nothing to the tray.
  if (name == "Scroll") {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  // A click's only action is the menu. Hosts show the item's menu themselves when the
  // item answers that it has no action of its own, as items that are only a menu do.
  g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                             "tallowmered shows its menu on every click");
  if (self->on_menu_wanted_) self->on_menu_wanted_();
}

}  // namespace tallow::platform::posix
