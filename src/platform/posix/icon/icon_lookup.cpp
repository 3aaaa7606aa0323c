#include "platform/posix/icon/icon_lookup.h"

#include <algorithm>
#include <string>
#include <system_error>

#include "platform/environment.h"
#include "platform/posix/user_directories.h"

namespace tallow::platform::posix {
namespace {

std::filesystem::file_type type_of(const std::filesystem::path& path) {
  std::error_code error;
  return std::filesystem::status(path, error).type();
}

bool file_exists(const std::filesystem::path& path) { return type_of(path) == std::filesystem::file_type::regular; }

}  // namespace

std::vector<std::filesystem::path> session_icon_bases() {
  std::vector<std::filesystem::path> bases;
  if (const auto data_home = xdg_directory("XDG_DATA_HOME", ".local/share")) bases.push_back(*data_home / "icons");
  if (const auto home = home_directory()) bases.push_back(*home / ".icons");
  std::string data_dirs = environment_variable("XDG_DATA_DIRS").value_or("");
  if (data_dirs.empty()) data_dirs = "/usr/local/share:/usr/share";
  for (std::size_t start = 0; start <= data_dirs.size();) {
    const std::size_t end = std::min(data_dirs.find(':', start), data_dirs.size());
    // Relative entries are invalid, and ignored as hosts ignore them.
    if (const std::filesystem::path directory = data_dirs.substr(start, end - start); directory.is_absolute()) {
      bases.push_back(directory / "icons");
    }
    start = end + 1;
  }
  return bases;
}

ItemIconPlaces item_icon_places(const std::filesystem::path& executable,
                                std::vector<std::filesystem::path> session_bases) {
  ItemIconPlaces places;
  const std::filesystem::path bin = executable.parent_path();
  for (const std::filesystem::path& carried : {bin.parent_path() / "share" / "icons", bin.parent_path() / "icons"}) {
    if (type_of(carried) != std::filesystem::file_type::directory) continue;
    // Installed where the session looks anyway (/usr/bin beside /usr/share/icons): hosts
    // need no pointer there.
    const auto normal = carried.lexically_normal();
    const bool searched = std::any_of(session_bases.begin(), session_bases.end(),
                                      [&](const auto& base) { return base.lexically_normal() == normal; });
    if (!searched) places.theme_path = normal;
    break;
  }
  if (!places.theme_path.empty()) places.bases.push_back(places.theme_path);
  places.bases.insert(places.bases.end(), session_bases.begin(), session_bases.end());
  return places;
}

bool hosts_find_icon(std::span<const std::filesystem::path> bases, std::string_view name) {
  const std::string file = std::string(name) + ".svg";
  return std::any_of(bases.begin(), bases.end(), [&](const std::filesystem::path& base) {
    return file_exists(base / file) || file_exists(base / "hicolor/scalable/apps" / file) ||
           file_exists(base / "hicolor/symbolic/apps" / file);
  });
}

}  // namespace tallow::platform::posix
