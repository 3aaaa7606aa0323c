#pragma once
// The org.kde.StatusNotifierItem object a notification-area host reads: its icon (a
// themed name and pixmaps), tooltip, status and the path of its menu.

#include <gio/gio.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "platform/icon_image.h"
#include "platform/posix/glib_ptr.h"

namespace tallow::platform::posix {

inline constexpr char kStatusNotifierItemPath[] = "/StatusNotifierItem";

class StatusNotifierItem {
 public:
  // Exports the item on `bus`, with the menu DbusMenu exports there.
  // `icon_theme_path` is where hosts look for the icon's name before the installed
  // themes (empty: only there). A click the host passes on (Activate, SecondaryActivate,
  // ContextMenu) is answered with an error, which tells hosts to show the menu themselves,
  // and `on_menu_wanted` runs, for hosts that do not.
  static Result<std::unique_ptr<StatusNotifierItem>> create(GDBusConnection* bus, std::string icon_theme_path,
                                                            std::function<void()> on_menu_wanted);
  ~StatusNotifierItem();  // unexports the item
  StatusNotifierItem(const StatusNotifierItem&) = delete;
  StatusNotifierItem& operator=(const StatusNotifierItem&) = delete;

  // The bus name the watcher is told, and the hosts read the item under.
  const std::string& bus_name() const { return bus_name_; }

  // Each replaces its properties and, when they changed, tells the hosts (NewIcon,
  // NewToolTip, NewStatus): hosts re-read everything a signal names, and some close an
  // open menu when the icon changes. An empty name leaves hosts the pixmaps alone.
  void set_icon(std::string name, const std::vector<IconImage>& images);
  void set_tooltip(std::string tooltip);  // also the icon's accessible description
  void set_status(std::string status);  // "Active", "Passive" or "NeedsAttention"

 private:
  StatusNotifierItem(GDBusConnection* bus, std::string icon_theme_path, std::function<void()> on_menu_wanted)
      : bus_(bus), icon_theme_path_(std::move(icon_theme_path)), on_menu_wanted_(std::move(on_menu_wanted)) {}
  void call(std::string_view method, GDBusMethodInvocation* invocation);
  GVariant* property(std::string_view wanted) const;
  void emit(const char* signal, GVariant* parameters = nullptr);

  GDBusConnection* bus_;
  std::string icon_theme_path_;
  std::function<void()> on_menu_wanted_;
  std::string bus_name_;
  guint registration_ = 0;
  std::string icon_name_;
  GVariantPtr pixmaps_{g_variant_ref_sink(g_variant_new("a(iiay)", nullptr))};
  std::string tooltip_;
  std::string status_ = "Active";
};

}  // namespace tallow::platform::posix
