#include "platform/posix/portal_theme.h"

#include "platform/posix/glib_ptr.h"
#include "platform/posix/session_bus.h"

namespace tallow::platform::posix {
namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kSettingsInterface[] = "org.freedesktop.portal.Settings";
constexpr char kNamespace[] = "org.freedesktop.appearance";
constexpr char kKey[] = "color-scheme";

// How long the tray's start waits for the portal's first answer.
constexpr gint kFirstAnswerMs = 250;

}  // namespace

std::optional<bool> PortalTheme::is_light_value(GVariant* value) {
  GVariantPtr held(value ? g_variant_ref(value) : nullptr);
  // A few layers at most: Read wraps the value once more than the setting itself.
  for (int depth = 0; held && depth < 4 && g_variant_is_of_type(held.get(), G_VARIANT_TYPE_VARIANT);
       ++depth) {
    held.reset(g_variant_get_variant(held.get()));
  }
  if (!held || !g_variant_is_of_type(held.get(), G_VARIANT_TYPE_UINT32)) return std::nullopt;
  return g_variant_get_uint32(held.get()) == 2;
}

PortalTheme::PortalTheme() {
  GDBusConnection* bus = session_bus();
  if (!bus) return;  // no bus, no portal: dark
  g_dbus_connection_signal_subscribe(
      bus, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, kNamespace,
      G_DBUS_SIGNAL_FLAGS_NONE, &PortalTheme::on_setting_changed, this, nullptr);
  // Asked at once, for a moment, so the first picture has the right colour and needs
  // no second one; a portal that is still starting answers later.
  GError* raw_error = nullptr;
  const GVariantPtr reply(g_dbus_connection_call_sync(bus, kPortalName, kPortalPath, kSettingsInterface, "Read",
                                                      g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"),
                                                      G_DBUS_CALL_FLAGS_NONE, kFirstAnswerMs, nullptr, &raw_error));
  const GErrorPtr error(raw_error);
  if (reply) {
    take_reply(reply.get());
    return;
  }
  if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return;
  g_dbus_connection_call(bus, kPortalName, kPortalPath, kSettingsInterface, "Read",
                         g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"),
                         G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &PortalTheme::on_read, this);
}

void PortalTheme::on_read(GObject* source, GAsyncResult* result, gpointer data) {
  auto* self = static_cast<PortalTheme*>(data);
  const GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, nullptr));
  // A change that came first is newer than what the read found.
  if (!reply || self->changed_) return;
  self->take_reply(reply.get());
}

void PortalTheme::take_reply(GVariant* reply) {
  const GVariantPtr value(g_variant_get_child_value(reply, 0));
  take(value.get());
}

void PortalTheme::take(GVariant* value) {
  light_ = is_light_value(value).value_or(false);
  known_ = true;
}

void PortalTheme::on_setting_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
                               const gchar*, GVariant* parameters, gpointer data) {
  auto* self = static_cast<PortalTheme*>(data);
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
  const gchar* name_space = nullptr;
  const gchar* key = nullptr;
  GVariant* raw_value = nullptr;
  g_variant_get(parameters, "(&s&sv)", &name_space, &key, &raw_value);
  const GVariantPtr value(raw_value);
  if (g_strcmp0(name_space, kNamespace) != 0 || g_strcmp0(key, kKey) != 0) return;
  self->changed_ = true;
  self->take(value.get());
}

}  // namespace tallow::platform::posix
