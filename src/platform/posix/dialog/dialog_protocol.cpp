#include "platform/posix/dialog/dialog_protocol.h"

#include <charconv>

namespace tallow::platform::posix {
namespace {

// Each kind's letter, in the order of MenuItem::Kind.
constexpr std::string_view kKindLetters = "tcs";
static_assert(MenuItem::Kind{0} == MenuItem::Kind::text && MenuItem::Kind{1} == MenuItem::Kind::check &&
              MenuItem::Kind{2} == MenuItem::Kind::separator);

char kind_letter(MenuItem::Kind kind) { return kKindLetters[static_cast<std::size_t>(kind)]; }

std::optional<MenuItem::Kind> kind_of(char letter) {
  const std::size_t found = kKindLetters.find(letter);
  if (found == std::string_view::npos) return std::nullopt;
  return static_cast<MenuItem::Kind>(found);
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
    rows.push_back({*kind, argument.substr(3), *enabled, *checked, std::nullopt});
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
