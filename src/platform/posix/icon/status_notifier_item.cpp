#include "platform/posix/icon/status_notifier_item.h"

#include "platform/icon_bitmaps.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/icon/dbus_menu.h"

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

// Each image as the item's pixmap: ARGB32 in network byte order, width × height; held.
GVariantPtr pixmap_array(const std::vector<IconImage>& images) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (const IconImage& image : images) {
    const std::vector<std::uint8_t> argb = status_notifier_pixmap(image);
    GVariant* bytes = g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, argb.data(), argb.size(), 1);
    g_variant_builder_add(&builder, "(ii@ay)", static_cast<std::int32_t>(image.width),
                          static_cast<std::int32_t>(image.height), bytes);
  }
  return GVariantPtr(g_variant_ref_sink(g_variant_builder_end(&builder)));
}

}  // namespace

Result<std::unique_ptr<StatusNotifierItem>> StatusNotifierItem::create(GDBusConnection* bus,
                                                                       std::string icon_theme_path,
                                                                       std::function<void()> on_menu_wanted) {
  std::unique_ptr<StatusNotifierItem> item(
      new StatusNotifierItem(bus, std::move(icon_theme_path), std::move(on_menu_wanted)));
  static const GDBusInterfaceVTable vtable = {
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method, GVariant*,
         GDBusMethodInvocation* invocation, gpointer self) {
        static_cast<StatusNotifierItem*>(self)->call(method, invocation);
      },
      [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* property, GError**, gpointer self) {
        return static_cast<const StatusNotifierItem*>(self)->property(property);
      },
      nullptr,
      {}};
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
  GVariantPtr pixmaps = pixmap_array(images);
  if (name == icon_name_ && g_variant_equal(pixmaps.get(), pixmaps_.get())) return;
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
  g_dbus_connection_emit_signal(bus_, nullptr, kStatusNotifierItemPath, kInterface, signal, parameters, nullptr);
}

GVariant* StatusNotifierItem::property(std::string_view wanted) const {
  if (wanted == "Category") return g_variant_new_string("ApplicationStatus");
  if (wanted == "Id") return g_variant_new_string("tallowmere-tray");
  if (wanted == "Title") return g_variant_new_string("tallowmered");
  if (wanted == "Status") return g_variant_new_string(status_.c_str());
  if (wanted == "WindowId") return g_variant_new_int32(0);
  if (wanted == "IconName") return g_variant_new_string(icon_name_.c_str());
  if (wanted == "IconPixmap") return g_variant_ref(pixmaps_.get());
  if (wanted == "IconThemePath") return g_variant_new_string(icon_theme_path_.c_str());
  if (wanted == "IconAccessibleDesc") return g_variant_new_string(tooltip_.c_str());
  if (wanted == "OverlayIconPixmap" || wanted == "AttentionIconPixmap") return g_variant_new("a(iiay)", nullptr);
  if (wanted == "ToolTip") return g_variant_new("(sa(iiay)ss)", "", nullptr, tooltip_.c_str(), "");
  // Every click shows the menu, as on Windows; hosts open it themselves.
  if (wanted == "ItemIsMenu") return g_variant_new_boolean(TRUE);
  if (wanted == "Menu") return g_variant_new_object_path(kDbusMenuPath);
  // No overlay, attention icon or movie.
  return g_variant_new_string("");
}

void StatusNotifierItem::call(std::string_view method, GDBusMethodInvocation* invocation) {
  // Scrolling over the icon means nothing to the tray.
  if (method == "Scroll") {
    g_dbus_method_invocation_return_value(invocation, nullptr);
    return;
  }
  // A click's only action is the menu. Hosts show the item's menu themselves when the
  // item answers that it has no action of its own, as items that are only a menu do.
  g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.DBus.Error.UnknownMethod",
                                             "tallowmered shows its menu on every click");
  if (on_menu_wanted_) on_menu_wanted_();
}

}  // namespace tallow::platform::posix
