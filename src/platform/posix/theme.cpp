// The light or dark look on Linux: the XEmbed tray the icon is docked in, as seen;
// otherwise the desktop portal's color-scheme, read once, asynchronously, when first
// asked for, then followed through SettingChanged; unknown while neither has said.
// Each loop pass only reads the kept answers; no pass makes a call on the bus.

#include "platform/theme.h"

#include <numeric>

#include "platform/posix/docking_panel.h"
#include "platform/posix/glib_ptr.h"
#include "platform/posix/portal_theme.h"
#include "platform/posix/session_bus.h"

namespace tallow::platform {
namespace posix {

std::optional<bool> color_scheme_is_light(GVariant* value) {
  GVariantPtr held(value ? g_variant_ref(value) : nullptr);
  // A few layers at most: Read wraps the value once more than the setting itself.
  for (int depth = 0; held && depth < 4 && g_variant_is_of_type(held.get(), G_VARIANT_TYPE_VARIANT);
       ++depth) {
    held.reset(g_variant_get_variant(held.get()));
  }
  if (!held || !g_variant_is_of_type(held.get(), G_VARIANT_TYPE_UINT32)) return std::nullopt;
  return g_variant_get_uint32(held.get()) == 2;
}

std::optional<bool> is_light_background(std::span<const Rgb> pixels) {
  if (pixels.empty()) return std::nullopt;
  const double luma = std::accumulate(pixels.begin(), pixels.end(), 0.0, [](double sum, const Rgb& pixel) {
    return sum + 0.2126 * pixel[0] + 0.7152 * pixel[1] + 0.0722 * pixel[2];
  });
  return luma / static_cast<double>(pixels.size()) > 127.5;
}

namespace {

std::optional<bool> docking_panel;

}  // namespace

void set_docking_panel_light(std::optional<bool> light) { docking_panel = light; }
std::optional<bool> docking_panel_light() { return docking_panel; }

namespace {

constexpr char kPortalName[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kSettingsInterface[] = "org.freedesktop.portal.Settings";
constexpr char kNamespace[] = "org.freedesktop.appearance";
constexpr char kKey[] = "color-scheme";

// How long the tray's start waits for the portal's first answer.
constexpr gint kFirstAnswerMs = 250;

class PortalTheme {
 public:
  PortalTheme() : bus_(session_bus()) {
    if (!bus_) return;  // no bus, no portal: dark
    subscription_ = g_dbus_connection_signal_subscribe(
        bus_, kPortalName, kSettingsInterface, "SettingChanged", kPortalPath, kNamespace,
        G_DBUS_SIGNAL_FLAGS_NONE, &PortalTheme::on_setting_changed, this, nullptr);
    // Asked at once, for a moment, so the first picture has the right colour and needs
    // no second one; a portal that is still starting answers later.
    GError* raw_error = nullptr;
    const GVariantPtr reply(g_dbus_connection_call_sync(bus_, kPortalName, kPortalPath, kSettingsInterface, "Read",
                                                        g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"),
                                                        G_DBUS_CALL_FLAGS_NONE, kFirstAnswerMs, nullptr, &raw_error));
    const GErrorPtr error(raw_error);
    if (reply) {
      take_reply(reply.get());
      return;
    }
    if (!g_error_matches(error.get(), G_IO_ERROR, G_IO_ERROR_TIMED_OUT)) return;
    g_dbus_connection_call(bus_, kPortalName, kPortalPath, kSettingsInterface, "Read",
                           g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"),
                           G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &PortalTheme::on_read, this);
  }
  // Lives as long as the process: the pending read and the subscription point at it.
  PortalTheme(const PortalTheme&) = delete;
  PortalTheme& operator=(const PortalTheme&) = delete;

  bool light() const { return light_; }
  bool known() const { return known_; }

 private:
  static void on_read(GObject* source, GAsyncResult* result, gpointer data) {
    auto* self = static_cast<PortalTheme*>(data);
    GError* raw_error = nullptr;
    GVariantPtr reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &raw_error));
    const GErrorPtr error(raw_error);
    // A change that came first is newer than what the read found.
    if (!reply || self->changed_) return;
    self->take_reply(reply.get());
  }

  void take_reply(GVariant* reply) {
    GVariantPtr value(g_variant_get_child_value(reply, 0));
    light_ = color_scheme_is_light(value.get()).value_or(false);
    known_ = true;
  }

  static void on_setting_changed(GDBusConnection*, const gchar*, const gchar*, const gchar*,
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
    self->light_ = color_scheme_is_light(value.get()).value_or(false);
    self->known_ = true;
  }

  GDBusConnection* bus_;
  guint subscription_ = 0;
  bool changed_ = false;
  bool known_ = false;
  bool light_ = false;
};

}  // namespace
}  // namespace posix

namespace {

const posix::PortalTheme& portal_theme() {
  // Made on the main thread's first pass and never destroyed: the bus may still
  // deliver to it while the process ends.
  static const posix::PortalTheme* const theme = new posix::PortalTheme();
  return *theme;
}

}  // namespace

bool is_light_theme() {
  if (const std::optional<bool> panel = posix::docking_panel_light()) return *panel;
  return portal_theme().light();
}

bool is_theme_known() { return posix::docking_panel_light() || portal_theme().known(); }

}  // namespace tallow::platform
