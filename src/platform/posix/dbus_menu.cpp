#include "platform/posix/dbus_menu.h"

#include <libdbusmenu-glib/client.h>
#include <libdbusmenu-glib/menuitem.h>

#include <optional>

#include "platform/notification_text.h"

namespace tallow::platform::posix {
namespace {

void on_item_activated(DbusmenuMenuitem*, guint, gpointer command) {
  queue_picked_command(static_cast<const char*>(command));
}

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

// An item that queues a command keeps that command for life.
GObjectPtr<DbusmenuMenuitem> make_item(const MenuItem& item) {
  GObjectPtr<DbusmenuMenuitem> made(dbusmenu_menuitem_new());
  if (const auto command = item.picked_command()) {
    g_signal_connect_data(made.get(), DBUSMENU_MENUITEM_SIGNAL_ITEM_ACTIVATED, G_CALLBACK(on_item_activated),
                          g_strndup(command->data(), command->size()),
                          [](gpointer copy, GClosure*) { g_free(copy); }, GConnectFlags(0));
  }
  return made;
}

}  // namespace

DbusMenu::DbusMenu() : server_(dbusmenu_server_new(kDbusMenuPath)), root_(dbusmenu_menuitem_new()) {
  dbusmenu_server_set_root(server_.get(), root_.get());
}

void DbusMenu::set(const Menu& menu) {
  // Items of the menu before that carry a command are kept by it; the others go. Each
  // kept one leaves the old root first, since an item has one parent at a time.
  std::map<std::string, GObjectPtr<DbusmenuMenuitem>> kept;
  kept.swap(items_by_command_);
  for (auto& [command, item] : kept) dbusmenu_menuitem_child_delete(root_.get(), item.get());

  // A fresh root: a new layout revision, so a host never mixes the rows of two menus.
  GObjectPtr<DbusmenuMenuitem> root(dbusmenu_menuitem_new());
  for (const MenuItem& item : menu) {
    const std::optional<std::string> command(item.picked_command());
    GObjectPtr<DbusmenuMenuitem> child;
    if (command) {
      if (auto found = kept.find(*command); found != kept.end()) {
        child = std::move(found->second);
        kept.erase(found);
      }
    }
    if (!child) child = make_item(item);
    describe_item(child.get(), item);
    dbusmenu_menuitem_child_append(root.get(), child.get());
    if (command && !items_by_command_.contains(*command)) {
      items_by_command_.emplace(*command, GObjectPtr<DbusmenuMenuitem>(
                                              static_cast<DbusmenuMenuitem*>(g_object_ref(child.get()))));
    }
  }
  dbusmenu_server_set_root(server_.get(), root.get());
  root_ = std::move(root);
}

void DbusMenu::show_to_user(guint timestamp) { dbusmenu_menuitem_show_to_user(root_.get(), timestamp); }

}  // namespace tallow::platform::posix
