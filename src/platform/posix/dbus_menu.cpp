#include "platform/posix/dbus_menu.h"

#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>

#include "platform/notification_text.h"

namespace tallow::platform::posix {
namespace {

void on_item_activated(DbusmenuMenuitem*, guint, gpointer command) {
  queue_picked_command(static_cast<const char*>(command));
}

DbusmenuMenuitem* make_item(const NotificationMenuItem& item) {
  DbusmenuMenuitem* made = dbusmenu_menuitem_new();
  if (item.kind == NotificationMenuItem::Kind::separator) {
    dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_TYPE, DBUSMENU_CLIENT_TYPES_SEPARATOR);
    return made;
  }
  const std::string label = underscore_label_text(item.text);
  dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_LABEL, label.c_str());
  dbusmenu_menuitem_property_set_bool(made, DBUSMENU_MENUITEM_PROP_ENABLED, item.enabled);
  if (item.kind == NotificationMenuItem::Kind::check) {
    dbusmenu_menuitem_property_set(made, DBUSMENU_MENUITEM_PROP_TOGGLE_TYPE, DBUSMENU_MENUITEM_TOGGLE_CHECK);
    dbusmenu_menuitem_property_set_int(made, DBUSMENU_MENUITEM_PROP_TOGGLE_STATE,
                                       item.checked ? DBUSMENU_MENUITEM_TOGGLE_STATE_CHECKED
                                                    : DBUSMENU_MENUITEM_TOGGLE_STATE_UNCHECKED);
  }
  // A disabled item is drawn dimmed and its clicks are not the user's choice.
  if (item.command && item.enabled) {
    g_signal_connect_data(made, DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(on_item_activated),
                          g_strdup(item.command->c_str()),
                          [](gpointer command, GClosure*) { g_free(command); }, GConnectFlags(0));
  }
  return made;
}

}  // namespace

DbusMenu::DbusMenu() : server_(dbusmenu_server_new(kDbusMenuPath)), root_(dbusmenu_menuitem_new()) {
  dbusmenu_server_set_root(server_.get(), root_.get());
}

void DbusMenu::set(const NotificationMenu& menu) {
  // A fresh root each time: new item ids and a new layout revision, so a host never
  // mixes items of two menus.
  GObjectPtr<DbusmenuMenuitem> root(dbusmenu_menuitem_new());
  for (const NotificationMenuItem& item : menu) {
    GObjectPtr<DbusmenuMenuitem> child(make_item(item));
    dbusmenu_menuitem_child_append(root.get(), child.get());
  }
  dbusmenu_server_set_root(server_.get(), root.get());
  root_ = std::move(root);
}

void DbusMenu::show_to_user(guint timestamp) { dbusmenu_menuitem_show_to_user(root_.get(), timestamp); }

}  // namespace tallow::platform::posix
