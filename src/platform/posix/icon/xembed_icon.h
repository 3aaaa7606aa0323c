#pragma once
// The fallback where no host draws StatusNotifierItems: a GtkStatusIcon, which an XEmbed
// system tray (the freedesktop.org system tray protocol) docks. GTK is loaded for it.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/notification_icon.h"
#include "platform/posix/glib_ptr.h"

typedef struct _GtkStatusIcon GtkStatusIcon;
typedef struct _GtkWidget GtkWidget;

namespace tallow::platform::posix {

struct GtkFunctions;

using Rgb = std::array<std::uint8_t, 3>;

// Whether the pixels of an XEmbed tray's background are light: their mean luma (Rec. 709)
// is over half way; none for no pixels. Such a tray draws its icons as given, in no
// colour of its own, and nothing else says whether it is light or dark (the desktop
// portal's colour scheme describes windows, not panels): seen, its background decides
// the icon's colour there.
std::optional<bool> is_light_background(std::span<const Rgb> pixels);

// The image of `picture` a tray that gives the icon `size` pixels shows: the nearest in
// height and, of two as near, the larger, which scales down cleaner. Null for none.
const IconImage* nearest_image(const IconPicture& picture, int size);

class XembedIcon {
 public:
  // The icon, visible and waiting for a tray to dock it; null when GTK cannot be loaded
  // (no library, no X display). Picked rows' commands join `picks`, which must outlive
  // the icon. `on_embedded_change` runs when a tray docks or drops it, and once the
  // tray's look has been seen. Made only where an XEmbed tray can dock it
  // (display_session.h).
  static std::unique_ptr<XembedIcon> create(const Menu& menu, const IconPicture& picture,
                                            const std::string& tooltip, PickedCommands& picks,
                                            std::function<void()> on_embedded_change);
  ~XembedIcon();
  XembedIcon(const XembedIcon&) = delete;
  XembedIcon& operator=(const XembedIcon&) = delete;

  void set_menu(const Menu& menu) { menu_ = menu; }
  // Shows the picture's image nearest the size the tray gives the icon.
  void set_picture(const IconPicture& picture);
  void set_tooltip(const std::string& tooltip);
  // A hidden icon leaves the tray; shown again, it asks to be docked again.
  void set_visible(bool visible);

  // True while the icon is visible and a tray docks it.
  bool is_shown_in_tray() const;
  // Whether the tray that docks it is light where the icon sits, once seen.
  std::optional<bool> panel_light() const { return panel_light_; }

 private:
  XembedIcon(const GtkFunctions& gtk, PickedCommands& picks, std::function<void()> on_embedded_change);
  void open_menu(guint button, guint32 time);
  void embedded_changed();
  void show_image_for(int size);
  // Looks at the tray's background at the icon's corners, which every rook leaves clear,
  // once the tray has had a moment to draw it.
  void look_at_panel_soon();
  void look_at_panel();

  const GtkFunctions& gtk_;
  PickedCommands& picks_;
  std::function<void()> on_embedded_change_;
  Menu menu_;
  IconPicture picture_;
  GObjectPtr<GtkStatusIcon> icon_;
  GObjectPtr<GtkWidget> popup_;  // the last menu shown, ref-sunk, until the next
  bool visible_ = true;
  std::optional<bool> panel_light_;
  GSourcePtr panel_look_;
};

}  // namespace tallow::platform::posix
