#pragma once
// The reference the state-file harnesses compare against: the whole document parsed
// into a tree, members looked up in it. The readers walk the document once without a
// tree; they must answer as this does, within their own limits.

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tallow::fuzz {

inline std::size_t nesting(const nlohmann::json& value) {
  std::size_t deepest = 0;
  if (value.is_structured()) {
    for (const auto& element : value) deepest = std::max(deepest, nesting(element));
    ++deepest;
  }
  return deepest;
}

// The document, or none where the readers refuse it: not one JSON value, a NUL or a
// byte-order mark anywhere they would not look, or nested deeper than 64.
inline std::optional<nlohmann::json> whole_document(std::string_view bytes) {
  if (bytes.find('\0') != std::string_view::npos || bytes.starts_with("\xEF\xBB\xBF")) return std::nullopt;
  auto document = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, /*allow_exceptions=*/false);
  if (document.is_discarded() || nesting(document) > 64) return std::nullopt;
  return document;
}

// document[names...], when each step is an object holding the name.
inline const nlohmann::json* member(const nlohmann::json& document, std::initializer_list<const char*> names) {
  const nlohmann::json* at = &document;
  for (const char* name : names) {
    if (!at->is_object() || !at->contains(name)) return nullptr;
    at = &(*at)[name];
  }
  return at;
}

}  // namespace tallow::fuzz
