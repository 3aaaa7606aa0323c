#include "platform/posix/icon/dbus_menu.h"

#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>

#include <optional>
#include <utility>
#include <vector>

#include "platform/notification_text.h"

namespace tallow::platform::posix {
namespace {

// Sets what a host shows of `item` on `made`, new or kept from the menu before.
void describe_item(DbusmenuMenuitem* made, const MenuItem& item) {
  if (item.kind == MenuItem::Kind::separator) {
    dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_TYPE, DBUSMENU_CLIENT_TYPES_SEPARATOR);
    return;
  }
  const std::string label = underscore_label_text(item.text);
  dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_LABEL, label.c_str());
  dbusmenu_menuitem_property_set_bool(made, DBUSMENU_MENUITEM_PROP_ENABLED, item.enabled);
  if (item.kind == MenuItem::Kind::check) {
    dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE, DBUSMENU_MENUITEM_TOGGLE_CHECK);
    dbusmenu_menuitem_property_set_int(made, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                       item.checked ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED
                                                    : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
  } else {
    dbusmenu_menuitem_property_remove(made, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE);
    dbusmenu_menuitem_property_remove(made, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE);
  }
}

// An item that picks a command keeps that command for life.
GObjectPtr<DbusmenuMenuitem> make_item(const MenuItem& item, PickedCommands& picks) {
  GObjectPtr<DbusmenuMenuitem> made(dbusmenu_menuitem_new());
  if (const auto command = item.picked_command()) {
    connect_pick(made.get(), DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, picks, *command);
  }
  return made;
}

// Each row's key: its command, or, for a row without one (a separator, the status),
// its kind, its place among such rows and the command row above it, so it moves with
// that row when rows come and go around them.
std::vector<std::string> row_keys(const Menu& menu) {
  std::vector<std::string> keys;
  std::string above = "top";
  std::map<MenuItem::Kind, int> since_above;
  for (const MenuItem& item : menu) {
    const std::optional<std::string> command(item.picked_command());
    if (command) {
      above = *command;
      since_above.clear();
    }
    keys.push_back(command ? "command " + *command
                           : std::to_string(static_cast<int>(item.kind)) + " " +
                                 std::to_string(since_above[item.kind]++) + " under " + above);
  }
  return keys;
}

}  // namespace

DbusMenu::DbusMenu(PickedCommands& picks) : picks_(picks), server_(dbusmenu_server_new(kDbusMenuPath)) {
  replace_root(GObjectPtr<DbusmenuMenuitem>(dbusmenu_menuitem_new()));
}

DbusMenu::~DbusMenu() { replace_root(nullptr); }

void DbusMenu::replace_root(GObjectPtr<DbusmenuMenuitem> root) {
  // The root's handlers point at this menu: they go with the root they watch.
  if (root_) g_signal_handlers_disconnect_by_data(root_.get(), this);
  if (root) {
    // Both handlers leave the signal to libdbusmenu's own handling (FALSE: not handled).
    g_signal_connect(root.get(), DBUSMENU_MENUITEM_SIGNAL_ABOUT_TO_SHOW,
                     G_CALLBACK(+[](DbusmenuMenuitem*, DbusMenu* self) -> gboolean {
                       self->last_opened_ = std::chrono::steady_clock::now();
                       return FALSE;
                     }),
                     this);
    g_signal_connect(
        root.get(), DBUSMENU_MENUITEM_SIGNAL_EVENT,
        G_CALLBACK(+[](DbusmenuMenuitem*, const gchar* event, GVariant*, guint, DbusMenu* self) -> gboolean {
          if (g_strcmp0(event, DBUSMENU_MENUITEM_EVENT_OPENED) != 0) return FALSE;
          self->last_opened_ = std::chrono::steady_clock::now();
          return FALSE;
        }),
        this);
    dbusmenu_server_set_root(server_.get(), root.get());
  }
  root_ = std::move(root);
}

void DbusMenu::set(const Menu& menu) {
  std::vector<std::string> keys = row_keys(menu);
  if (keys == keys_ && !keys.empty()) {
    // The same rows: only those that changed are announced.
    for (std::size_t row = 0; row < menu.size(); ++row) {
      if (!(menu[row] == shown_[row])) describe_item(items_by_key_.at(keys[row]).get(), menu[row]);
    }
    shown_ = menu;
    return;
  }

  // The items of the menu before, each of which leaves the old root first, since an item
  // has one parent at a time; those the new menu does not take up go.
  std::map<std::string, GObjectPtr<DbusmenuMenuitem>> kept;
  kept.swap(items_by_key_);
  for (auto& [key, item] : kept) dbusmenu_menuitem_child_delete(root_.get(), item.get());

  // A fresh root: a new layout revision, so a host never mixes the rows of two menus.
  GObjectPtr<DbusmenuMenuitem> root(dbusmenu_menuitem_new());
  std::vector<std::pair<DbusmenuMenuitem*, const MenuItem*>> changed;
  for (std::size_t row = 0; row < menu.size(); ++row) {
    const MenuItem& item = menu[row];
    GObjectPtr<DbusmenuMenuitem> child;
    if (auto found = kept.find(keys[row]); found != kept.end()) {
      child = std::move(found->second);
      kept.erase(found);
      changed.emplace_back(child.get(), &item);
    } else {
      child = make_item(item, picks_);
      describe_item(child.get(), item);
    }
    dbusmenu_menuitem_child_append(root.get(), child.get());
    items_by_key_.emplace(keys[row],
                          GObjectPtr<DbusmenuMenuitem>(static_cast<DbusmenuMenuitem*>(g_object_ref(child.get()))));
  }
  replace_root(std::move(root));
  // A kept item changes once it is served again, so the host hears of each change
  // (ItemsPropertiesUpdated): hosts that read only the rows' types from a new layout,
  // as GNOME's AppIndicator extension does, would show its old label otherwise.
  for (const auto& [child, item] : changed) describe_item(child, *item);
  shown_ = menu;
  keys_ = std::move(keys);
}

}  // namespace tallow::platform::posix
