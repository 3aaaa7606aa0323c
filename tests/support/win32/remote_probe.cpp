#include "support/win32/remote_probe.h"

#include <filesystem>
#include <mutex>

#include "support/test_support.h"
#include "support/win32/remote_call.h"

namespace tallow::test::win32 {
namespace {

constexpr wchar_t kProbeName[] = L"tallow_window_probe.dll";

std::filesystem::path probe_path() {
  return program_path("tallowmered").parent_path() / kProbeName;
}

// Runs the probe's `function` inside `process_id`; what it wrote, or none.
std::optional<std::string> run_probe(DWORD process_id, const char* function) {
  static std::mutex output_mutex;  // one output file for the whole test process
  const std::lock_guard lock(output_mutex);
  const std::filesystem::path output = std::filesystem::temp_directory_path() /
                                       ("tallow-probe-" + std::to_string(GetCurrentProcessId()));
  std::error_code error;
  std::filesystem::remove(output, error);
  const std::optional<DWORD> code = call_in_process(process_id, probe_path(), function, output.wstring());
  std::string text = read_file(output);
  std::filesystem::remove(output, error);
  if (code != DWORD{0}) return std::nullopt;
  return text;
}

}  // namespace

std::vector<ProbedMenuItem> parse_probed_menu(const std::string& lines) {
  std::vector<ProbedMenuItem> items;
  std::size_t start = 0;
  while (start < lines.size()) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string::npos) end = lines.size();
    const std::string line = lines.substr(start, end - start);
    start = end + 1;
    if (line == "-") {
      items.push_back({shown_separator(), false});
      continue;
    }
    const std::size_t tab = line.find('\t');
    const std::string flags = line.substr(0, tab);
    const std::string label = tab == std::string::npos ? "" : line.substr(tab + 1);
    const auto has = [&](char flag) { return flags.find(flag) != std::string::npos; };
    items.push_back({shown_item(label, has('g'), has('c')), has('h')});
  }
  return items;
}

ShownMessageBox parse_probed_message_box(const std::string& text) {
  ShownMessageBox box;
  const std::size_t first = text.find('\n');
  const std::size_t second = first == std::string::npos ? first : text.find('\n', first + 1);
  box.icon = text.substr(0, first);
  if (first != std::string::npos) box.caption = text.substr(first + 1, second - first - 1);
  if (second != std::string::npos) box.text = text.substr(second + 1);
  return box;
}

std::optional<std::vector<ProbedMenuItem>> probe_open_menu(DWORD process_id) {
  const std::optional<std::string> lines = run_probe(process_id, "tallow_probe_menu");
  if (!lines) return std::nullopt;
  return parse_probed_menu(*lines);
}

std::optional<ShownMessageBox> probe_message_box(DWORD process_id) {
  const std::optional<std::string> text = run_probe(process_id, "tallow_probe_message_box");
  if (!text) return std::nullopt;
  return parse_probed_message_box(*text);
}

}  // namespace tallow::test::win32
