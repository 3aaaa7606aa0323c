#include "platform/posix/dialog/dialog_protocol.h"

#include <algorithm>
#include <charconv>
#include <utility>

namespace tallow::platform::posix {
namespace {

// Each kind's letter, both ways.
constexpr std::pair<MenuItem::Kind, char> kKindLetters[] = {
    {MenuItem::Kind::text, 't'}, {MenuItem::Kind::check, 'c'}, {MenuItem::Kind::separator, 's'}};

char kind_letter(MenuItem::Kind kind) {
  return std::ranges::find(kKindLetters, kind, &std::pair<MenuItem::Kind, char>::first)->second;
}

std::optional<MenuItem::Kind> kind_of(char letter) {
  const auto* found = std::ranges::find(kKindLetters, letter, &std::pair<MenuItem::Kind, char>::second);
  if (found == std::end(kKindLetters)) return std::nullopt;
  return found->first;
}

std::optional<bool> flag(char c) {
  if (c == '1') return true;
  if (c == '0') return false;
  return std::nullopt;
}

}  // namespace

std::vector<std::string> popup_row_arguments(const Menu& menu) {
  std::vector<std::string> arguments;
  arguments.reserve(menu.size());
  for (const MenuItem& item : menu) {
    arguments.push_back(std::string{kind_letter(item.kind), item.enabled ? '1' : '0', item.checked ? '1' : '0'} +
                        item.text);
  }
  return arguments;
}

std::optional<Menu> popup_rows_from_arguments(std::span<const std::string> arguments) {
  Menu rows;
  for (const std::string& argument : arguments) {
    if (argument.size() < 3) return std::nullopt;
    const std::optional<bool> enabled = flag(argument[1]);
    const std::optional<bool> checked = flag(argument[2]);
    const std::optional<MenuItem::Kind> kind = kind_of(argument[0]);
    if (!enabled || !checked || !kind) return std::nullopt;
    MenuItem row;
    row.kind = *kind;
    row.text = argument.substr(3);
    row.enabled = *enabled;
    row.checked = *checked;
    rows.push_back(std::move(row));
  }
  return rows;
}

std::string popup_pick_text(std::size_t row) { return std::to_string(row); }

std::optional<std::size_t> popup_pick_from_text(std::string_view text, std::size_t rows) {
  std::size_t row = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), row);
  if (error != std::errc() || end != text.data() + text.size() || text.empty() || row >= rows) return std::nullopt;
  return row;
}

}  // namespace tallow::platform::posix
