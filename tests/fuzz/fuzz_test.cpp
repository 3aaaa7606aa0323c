// Randomized robustness runs over every parser of outside input: the state files,
// the enrollment text, the hub URL shown in the menu and the text helpers beneath
// them. Each run generates structured inputs (valid documents and lines, their
// mutations, random bytes, deep nesting, long digit runs) and checks properties of
// the answers, not only that nothing crashes.
//
// TALLOW_FUZZ_SECONDS: total time budget, shared by the targets (default 2).
// TALLOW_FUZZ_SEED:    base seed; a failure prints the seed that reproduces it.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "common/text.h"
#include "agent/enrollment_input.h"
#include "agent/state_files.h"
#include "support/test_support.h"
#include "tray/menu_model.h"

namespace tallow {

// Shared word for word by every test file that prints these values.
inline void PrintTo(const StatusFileRecord& record, std::ostream* out) {
  *out << "{pid " << record.pid << ", connected "
       << (record.connected ? (*record.connected ? "true" : "false") : "absent") << "}";
}
inline void PrintTo(const EnvEntry& entry, std::ostream* out) {
  *out << "{\"" << entry.key << "\" = \"" << entry.value << "\"}";
}
inline void PrintTo(const EnrollmentRequest& request, std::ostream* out) {
  *out << "{code \"" << request.code << "\", hub \"" << request.hub << "\"}";
}

namespace {

using Rng = std::mt19937_64;
using Clock = std::chrono::steady_clock;

constexpr int kTargets = 7;

std::uint64_t base_seed() {
  static const std::uint64_t seed = [] {
    if (const char* text = std::getenv("TALLOW_FUZZ_SEED"); text != nullptr && *text != '\0') {
      return static_cast<std::uint64_t>(std::strtoull(text, nullptr, 0));
    }
    return (static_cast<std::uint64_t>(std::random_device{}()) << 32) ^ std::random_device{}();
  }();
  return seed;
}

std::chrono::duration<double> budget_per_target() {
  double seconds = 2.0;
  if (const char* text = std::getenv("TALLOW_FUZZ_SECONDS"); text != nullptr && *text != '\0') {
    char* end = nullptr;
    const double parsed = std::strtod(text, &end);
    if (end != text && parsed >= 0) seconds = parsed;
  }
  return std::chrono::duration<double>(seconds / kTargets);
}

std::uint64_t mix(std::uint64_t a, std::uint64_t b) {
  // splitmix64 finalizer over the combination: every (seed, target, iteration) gets
  // its own independent stream, so one failing input reproduces on its own.
  std::uint64_t z = a + 0x9E3779B97F4A7C15ull * (b + 1);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// Runs `one` with a fresh generator per input until the budget is spent or a check fails.
void fuzz(const char* target, const std::function<void(Rng&)>& one) {
  const std::uint64_t seed = base_seed();
  std::uint64_t target_hash = 1469598103934665603ull;
  for (const char* p = target; *p != '\0'; ++p) target_hash = (target_hash ^ static_cast<unsigned char>(*p)) * 1099511628211ull;

  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(budget_per_target());
  std::uint64_t iteration = 0;
  do {
    SCOPED_TRACE(::testing::Message() << target << " input #" << iteration << ", reproduce with TALLOW_FUZZ_SEED="
                                      << seed);
    Rng rng(mix(mix(seed, target_hash), iteration));
    one(rng);
    ++iteration;
    if (::testing::Test::HasFailure()) break;
  } while (Clock::now() < deadline);
  std::cout << "[   fuzz   ] " << target << ": " << iteration << " inputs, TALLOW_FUZZ_SEED=" << seed << "\n";
}

// ---------------------------------------------------------------------------
// Generators

std::size_t pick(Rng& rng, std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }
bool chance(Rng& rng, double p) { return std::bernoulli_distribution(p)(rng); }

template <typename T>
const T& one_of(Rng& rng, const std::vector<T>& items) {
  return items[pick(rng, items.size())];
}

// The input, printable and short enough for a failure message.
std::string show(std::string_view bytes) {
  std::string out = "\"";
  for (std::size_t i = 0; i < bytes.size() && i < 300; ++i) {
    const auto c = static_cast<unsigned char>(bytes[i]);
    if (c == '\\' || c == '"') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  if (bytes.size() > 300) out += "...(" + std::to_string(bytes.size()) + " bytes)";
  return out + "\"";
}


const std::vector<char32_t> kWhiteSpace = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                           0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                           0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                           0x2029, 0x202F, 0x205F, 0x3000};

const std::vector<std::string>& white_space_encodings() {
  static const std::vector<std::string> encodings = [] {
    std::vector<std::string> out;
    for (const char32_t c : kWhiteSpace) out.push_back(test::encode_utf8(c));
    return out;
  }();
  return encodings;
}

// Length of the white-space encoding at the start of `text`, or 0. The encodings are a
// prefix code whose first bytes never continue another sequence, so matching them on
// raw bytes finds exactly the white space a decoder finds.
std::size_t white_space_prefix(std::string_view text) {
  for (const auto& ws : white_space_encodings()) {
    if (text.starts_with(ws)) return ws.size();
  }
  return 0;
}

std::size_t white_space_suffix(std::string_view text) {
  for (const auto& ws : white_space_encodings()) {
    if (text.ends_with(ws)) return ws.size();
  }
  return 0;
}

std::string random_white_space(Rng& rng, std::size_t max_count, bool unicode = true) {
  std::string out;
  const std::size_t count = pick(rng, max_count + 1);
  for (std::size_t i = 0; i < count; ++i) {
    out += unicode ? test::encode_utf8(one_of(rng, kWhiteSpace)) : std::string(1, " \t\r\n"[pick(rng, 4)]);
  }
  return out;
}

char32_t random_scalar(Rng& rng) {
  switch (pick(rng, 6)) {
    case 0: return static_cast<char32_t>(0x20 + pick(rng, 0x5F));
    case 1: return static_cast<char32_t>(pick(rng, 0x80));
    case 2: return static_cast<char32_t>(0x80 + pick(rng, 0x780));
    case 3: {
      char32_t c = static_cast<char32_t>(0x800 + pick(rng, 0x10000 - 0x800));
      return (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c;
    }
    case 4: return static_cast<char32_t>(0x10000 + pick(rng, 0x100000));
    default: return one_of(rng, std::vector<char32_t>{0x0, 0x7F, 0x80, 0x7FF, 0x800, 0xD7FF, 0xE000, 0xFEFF,
                                                      0xFFFD, 0xFFFF, 0x10000, 0x10FFFF, 0x2026, 0x200B});
  }
}

std::string random_valid_utf8(Rng& rng, std::size_t max_chars) {
  std::string out;
  const std::size_t count = pick(rng, max_chars + 1);
  for (std::size_t i = 0; i < count; ++i) out += test::encode_utf8(random_scalar(rng));
  return out;
}

const std::vector<unsigned char> kInterestingBytes = {
    0x00, '\t', '\n', '\r', ' ', '"', '\'', '\\', '{', '}', '[', ']', ':', ',', '=', '#', '-', '.',
    '/',  '0',  '1',  '9',  'e', 'x', 'A',  0x7F, 0x80, 0x85, 0xA0, 0xBF, 0xC0, 0xC2, 0xDF, 0xE0,
    0xE2, 0xE3, 0xED, 0xEF, 0xF0, 0xF4, 0xF5, 0xFF};

std::string random_bytes(Rng& rng, std::size_t max_size) {
  std::string out;
  const std::size_t size = pick(rng, max_size + 1);
  for (std::size_t i = 0; i < size; ++i) {
    out += chance(rng, 0.5) ? static_cast<char>(one_of(rng, kInterestingBytes)) : static_cast<char>(pick(rng, 256));
  }
  return out;
}

const std::vector<std::string> kMutationTokens = {
    "\"", "{", "}", "[", "]", ",", ":", "-", ".", "e", "E", "0", "9", "\\", "\\u", "\\ud800", "\xFF", "\xC0\x80",
    "\n", "\r\n", "\r", "=", "#", "'", "export ", "\xC2\xA0", "\xE2\x80\x8B", "null", "true", "4294967296",
    "\"pid\":", "\"hub\":", "\"url\":", "\"connected\":", "://", "/", "--hub", "--hub=", "tallowmered.exe", "enroll",
    std::string(1, '\0')};

std::string mutate(Rng& rng, std::string text) {
  const std::size_t count = 1 + pick(rng, 4);
  for (std::size_t m = 0; m < count; ++m) {
    const std::size_t at = pick(rng, text.size() + 1);
    switch (pick(rng, 7)) {
      case 0:  // flip a byte
        if (!text.empty()) text[pick(rng, text.size())] ^= static_cast<char>(1u << pick(rng, 8));
        break;
      case 1:
        text.insert(at, 1, static_cast<char>(one_of(rng, kInterestingBytes)));
        break;
      case 2:
        text.erase(at, pick(rng, 8));
        break;
      case 3:
        text.insert(at, one_of(rng, kMutationTokens));
        break;
      case 4:  // duplicate a span
        if (!text.empty()) {
          const std::size_t from = pick(rng, text.size());
          text.insert(at, text.substr(from, pick(rng, 16)));
        }
        break;
      case 5:
        text.resize(at);
        break;
      default:
        if (!text.empty()) text[pick(rng, text.size())] = static_cast<char>(pick(rng, 256));
        break;
    }
  }
  return text;
}

// A JSON string literal for `text`, escaped in one of the many equivalent ways.
std::string json_string(Rng& rng, const std::string& text) {
  std::string out = "\"";
  const auto escape_unit = [&](char16_t unit) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, chance(rng, 0.5) ? "\\u%04x" : "\\u%04X", static_cast<unsigned>(unit));
    out += buffer;
  };
  for (std::size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    const std::string character = text.substr(i, length);
    i += length;
    if (character == "\"") {
      out += "\\\"";
    } else if (character == "\\") {
      out += "\\\\";
    } else if (c < 0x20 || chance(rng, 0.1)) {
      const std::u16string encoded = utf8_to_utf16(character);
      if (c == '\n' && chance(rng, 0.5)) {
        out += "\\n";
      } else if (c == '/' && chance(rng, 0.5)) {
        out += "\\/";
      } else {
        for (const char16_t unit : encoded) escape_unit(unit);
      }
    } else {
      out += character;
    }
  }
  return out + "\"";
}

// A JSON value nobody reads: keys chosen so that it cannot shadow a member that counts.
std::string json_filler(Rng& rng, int depth = 0) {
  switch (pick(rng, depth > 3 ? 5 : 7)) {
    case 0: return "null";
    case 1: return chance(rng, 0.5) ? "true" : "false";
    case 2: return std::to_string(static_cast<std::int64_t>(rng())) + (chance(rng, 0.3) ? ".5e-3" : "");
    case 3: return json_string(rng, random_valid_utf8(rng, 8));
    case 4: return "\"" + std::string(pick(rng, 4), 'x') + "\"";
    case 5: {
      std::string out = "[";
      const std::size_t n = pick(rng, 4);
      for (std::size_t i = 0; i < n; ++i) out += (i ? "," : "") + json_filler(rng, depth + 1);
      return out + "]";
    }
    default: {
      std::string out = "{";
      const std::size_t n = pick(rng, 4);
      for (std::size_t i = 0; i < n; ++i) {
        out += (i ? "," : "") + std::string("\"f") + std::to_string(i) + "\":" + json_filler(rng, depth + 1);
      }
      return out + "}";
    }
  }
}

// An object from members "name": value, in random order with random JSON white space.
std::string json_object(Rng& rng, std::vector<std::pair<std::string, std::string>> members) {
  std::shuffle(members.begin(), members.end(), rng);
  const auto ws = [&] { return random_white_space(rng, 2, /*unicode=*/false); };
  std::string out = "{" + ws();
  for (std::size_t i = 0; i < members.size(); ++i) {
    if (i) out += "," + ws();
    out += "\"" + members[i].first + "\"" + ws() + ":" + ws() + members[i].second + ws();
  }
  return out + "}";
}

std::vector<std::pair<std::string, std::string>> filler_members(Rng& rng) {
  std::vector<std::pair<std::string, std::string>> members;
  const std::size_t n = pick(rng, 3);
  for (std::size_t i = 0; i < n; ++i) members.emplace_back("extra" + std::to_string(i), json_filler(rng));
  return members;
}

// Text that can never complete a JSON document that is already complete.
const std::vector<std::string> kNotJsonWhiteSpace = {"x", "{}", "0", "\"\"", ",", "\f", "\v", "\xC2\xA0",
                                                     std::string(1, '\0'), "]", "//", "\xEF\xBB\xBF"};

// Nested arrays and objects, optionally closed.
std::string deep_json(Rng& rng, std::size_t depth, bool closed, const std::string& innermost) {
  std::string open, close;
  for (std::size_t i = 0; i < depth; ++i) {
    if (chance(rng, 0.5)) {
      open += "[";
      close += "]";
    } else {
      open += chance(rng, 0.5) ? "{\"a\":" : "{\"hub\":";
      close += "}";
    }
  }
  std::reverse(close.begin(), close.end());
  return closed ? open + innermost + close : open;
}

// Mostly moderate, now and then very deep: deep inputs are slow and would crowd out the rest.
std::size_t deep_depth(Rng& rng) { return chance(rng, 0.1) ? pick(rng, 50000) : pick(rng, 2000); }

// ---------------------------------------------------------------------------
// config.json

TEST(Fuzz, HubUrl) {
  fuzz("parse_hub_url", [](Rng& rng) {
    const std::string url = random_valid_utf8(rng, 24);
    auto hub_members = filler_members(rng);
    hub_members.emplace_back("url", json_string(rng, url));
    auto top = filler_members(rng);
    top.emplace_back("hub", json_object(rng, hub_members));
    const std::string document = random_white_space(rng, 2, false) + json_object(rng, top);

    switch (pick(rng, 6)) {
      case 0: {  // a valid document gives back its URL, whatever JSON white space follows
        const std::string input = document + random_white_space(rng, 3, false);
        EXPECT_EQ(parse_hub_url(input), url) << show(input);
        break;
      }
      case 1: {  // a torn document (any proper prefix) is never a URL
        const std::string input = document.substr(0, pick(rng, document.size()));
        EXPECT_EQ(parse_hub_url(input), std::nullopt) << show(input);
        break;
      }
      case 2: {  // anything but white space after the value
        const std::string input = document + random_white_space(rng, 2, false) + one_of(rng, kNotJsonWhiteSpace);
        EXPECT_EQ(parse_hub_url(input), std::nullopt) << show(input);
        break;
      }
      case 3: {  // deep nesting never holds the URL at the right place
        const bool closed = chance(rng, 0.5);
        const std::string input = deep_json(rng, 3 + deep_depth(rng), closed, "{\"url\":\"x\"}");
        EXPECT_EQ(parse_hub_url(input), std::nullopt) << show(input);
        break;
      }
      default: {  // mutated documents and random bytes: any answer, but only UTF-8 text
        const std::string input = chance(rng, 0.7) ? mutate(rng, document) : random_bytes(rng, 64);
        const auto result = parse_hub_url(input);
        if (result) {
          EXPECT_TRUE(is_valid_utf8(*result)) << show(input) << " gave " << show(*result);
        }
        break;
      }
    }
  });
}

// ---------------------------------------------------------------------------
// status.json

std::uint32_t random_pid(Rng& rng) {
  switch (pick(rng, 4)) {
    case 0: return one_of(rng, std::vector<std::uint32_t>{0, 1, 9, 10, 4294967294u, 4294967295u, 2147483647u,
                                                          2147483648u});
    case 1: return static_cast<std::uint32_t>(pick(rng, 100000));
    default: return static_cast<std::uint32_t>(rng());
  }
}

TEST(Fuzz, StatusFile) {
  fuzz("parse_status_file", [](Rng& rng) {
    const std::uint32_t pid = random_pid(rng);
    std::optional<bool> connected;
    auto top = filler_members(rng);
    auto hub = filler_members(rng);
    switch (pick(rng, 6)) {
      case 0: connected = true; hub.emplace_back("connected", "true"); break;
      case 1: connected = false; hub.emplace_back("connected", "false"); break;
      case 2: hub.emplace_back("connected", one_of(rng, std::vector<std::string>{"\"true\"", "1", "null", "[]"})); break;
      case 3: top.emplace_back("connected", "true"); break;  // at the wrong level
      default: break;
    }
    if (!hub.empty() || chance(rng, 0.5)) top.emplace_back("hub", json_object(rng, hub));
    const std::string decimal = std::to_string(pid);

    const auto document = [&](const std::string& pid_literal) {
      auto members = top;
      members.emplace_back("pid", pid_literal);
      return json_object(rng, members);
    };

    switch (pick(rng, 7)) {
      case 0: {  // a generated document parses back to the pid it was made with
        const std::string input = document(decimal) + random_white_space(rng, 2, false);
        EXPECT_EQ(parse_status_file(input), (StatusFileRecord{pid, connected})) << show(input);
        break;
      }
      case 1: {  // pid literals that are not plain unsigned integers up to 2^32 - 1
        const std::uint64_t above = std::uint64_t(pid) + 4294967296ull;
        const std::string literal = one_of(
            rng, std::vector<std::string>{decimal + ".0", decimal + "e0", decimal + "E+0", "-" + decimal,
                                          "\"" + decimal + "\"", std::to_string(above), "0" + decimal,
                                          decimal + ".5", "[" + decimal + "]", "{\"pid\":" + decimal + "}"});
        const std::string input = document(literal);
        EXPECT_EQ(parse_status_file(input), std::nullopt) << show(input);
        break;
      }
      case 2: {  // long digit runs count only up to 4294967295
        std::string digits(1, static_cast<char>('1' + pick(rng, 9)));
        const std::size_t length = chance(rng, 0.5) ? 1 + pick(rng, 12) : 1 + pick(rng, 500);
        while (digits.size() < length) digits += static_cast<char>('0' + pick(rng, 10));
        const bool fits = digits.size() < 10 || (digits.size() == 10 && digits <= "4294967295");
        const std::string input = document(digits);
        const auto result = parse_status_file(input);
        ASSERT_EQ(result.has_value(), fits) << show(input);
        if (fits) {
          EXPECT_EQ(std::to_string(result->pid), digits);
        }
        break;
      }
      case 3: {  // torn or trailed documents read as absent
        const std::string full = document(decimal);
        const std::string input = chance(rng, 0.5) ? full.substr(0, pick(rng, full.size()))
                                                    : full + one_of(rng, kNotJsonWhiteSpace);
        EXPECT_EQ(parse_status_file(input), std::nullopt) << show(input);
        break;
      }
      case 4: {
        const std::string input = deep_json(rng, 1 + deep_depth(rng), chance(rng, 0.5), "{\"pid\":1}");
        EXPECT_EQ(parse_status_file(input), std::nullopt) << show(input);
        break;
      }
      default: {  // whatever a mutation yields, a pid read must be written out in the file
        const std::string input = chance(rng, 0.8) ? mutate(rng, document(decimal)) : random_bytes(rng, 64);
        const auto result = parse_status_file(input);
        if (result) {
          EXPECT_NE(input.find(std::to_string(result->pid)), std::string::npos)
              << show(input) << " gave pid " << result->pid;
        }
        break;
      }
    }
  });
}

// ---------------------------------------------------------------------------
// env

// Whether `line` could have produced the entry: the key, "=", then the value as
// written, bare or between a pair of quotes.
bool line_yields(std::string_view line, const EnvEntry& entry) {
  for (const std::string& written : {entry.value, "\"" + entry.value + "\"", "'" + entry.value + "'"}) {
    if (line.find(entry.key + "=" + written) != std::string_view::npos) return true;
  }
  return false;
}

void check_env_invariants(const std::string& text, const std::vector<EnvEntry>& entries) {
  std::vector<std::string_view> lines;
  for (std::string_view rest = text;;) {
    const std::size_t newline = rest.find('\n');
    lines.push_back(rest.substr(0, newline));
    if (newline == std::string_view::npos) break;
    rest.remove_prefix(newline + 1);
  }
  ASSERT_LE(entries.size(), lines.size()) << show(text);
  std::size_t next = 0;  // entries come from distinct lines, in file order
  for (const auto line : lines) {
    if (next < entries.size() && line_yields(line, entries[next])) ++next;
  }
  EXPECT_EQ(next, entries.size()) << show(text) << ": entry " << next << " has no line of its own";
  for (const auto& entry : entries) {
    EXPECT_EQ(entry.key.find('='), std::string::npos) << show(text) << " key " << show(entry.key);
    EXPECT_EQ(entry.key.find('\n'), std::string::npos) << show(text) << " key " << show(entry.key);
    EXPECT_EQ(entry.value.find('\n'), std::string::npos) << show(text) << " value " << show(entry.value);
  }
}

std::string random_key(Rng& rng) {
  static const std::string chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_.-";
  std::string key;
  const std::size_t length = pick(rng, 12);
  for (std::size_t i = 0; i < length; ++i) key += chars[pick(rng, chars.size())];
  if (chance(rng, 0.1)) key += "\xC3\x84";
  if (chance(rng, 0.1)) key += " ";  // a space before "=" belongs to the key
  return key;
}

// A value without newlines; white space inside, and any quote characters.
std::string random_value(Rng& rng) {
  static const std::vector<std::string> pieces = {"a", "Z", "0", " ", "\t", "=", "#", "\"", "'", "\\", "$",
                                                  "\xC2\xA0", "\xE2\x80\xA6", "\xE2\x80\x8B", "\r", "x y"};
  std::string value;
  const std::size_t count = pick(rng, 10);
  for (std::size_t i = 0; i < count; ++i) value += one_of(rng, pieces);
  return value;
}

TEST(Fuzz, EnvFile) {
  fuzz("parse_env_file", [](Rng& rng) {
    // Lines written the many ways people write them, with the entries they must give.
    std::vector<EnvEntry> expected;
    std::string text;
    const std::size_t line_count = pick(rng, 12);
    for (std::size_t i = 0; i < line_count; ++i) {
      std::string line;
      switch (pick(rng, 8)) {
        case 0: line = ""; break;
        case 1: line = "#" + random_value(rng); break;
        case 2: line = random_white_space(rng, 2) + "# x=" + random_value(rng); break;
        case 3: line = "NO_EQUALS_" + std::to_string(i); break;
        default: {
          std::string key = random_key(rng);
          // Keep the line's meaning with the generator: no key that the trim or the
          // "export " rule would shorten.
          if (white_space_prefix(key) != 0 || key.starts_with("export ")) key = "K" + key;
          std::string value = random_value(rng);
          std::string written;
          const char quote = "\"'"[pick(rng, 2)];
          if (chance(rng, 0.5)) {
            written = quote + value + quote;  // quotes keep white space and quotes inside
          } else {
            // Bare values lose surrounding white space to the trim, and a value that
            // starts and ends with one quote character loses those quotes.
            value = std::string(trim_white_space(value));
            if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
              value = value.substr(1, value.size() - 2);
              written = quote + value + quote;
            } else {
              written = value;
            }
          }
          if (key.empty() && !chance(rng, 0.5)) break;
          line = (chance(rng, 0.3) ? "export " : "") + key + "=" + written;
          expected.push_back(EnvEntry{key, value});
          break;
        }
      }
      text += random_white_space(rng, 2) + line + random_white_space(rng, 2);
      if (i + 1 < line_count || chance(rng, 0.5)) text += chance(rng, 0.5) ? "\r\n" : "\n";
    }

    if (chance(rng, 0.6)) {
      const auto entries = parse_env_file(text);
      EXPECT_EQ(entries, expected) << show(text);
      for (const auto& entry : expected) {
        std::optional<std::string> last;
        for (const auto& e : expected) if (e.key == entry.key) last = e.value;
        EXPECT_EQ(env_file_value(entries, entry.key), last) << show(text) << " key " << show(entry.key);
      }
      EXPECT_EQ(env_file_value(entries, "NOT_A_KEY_\xE2\x80\xA6"), std::nullopt);
    } else {
      const std::string input = chance(rng, 0.7) ? mutate(rng, text) : random_bytes(rng, 96);
      check_env_invariants(input, parse_env_file(input));
    }
  });
}

// ---------------------------------------------------------------------------
// Enrollment text

bool names_agent(std::string_view token) {
  while (token.ends_with(".exe")) token.remove_suffix(4);
  return token.ends_with("tallowmered");
}

bool is_candidate(std::string_view token) {
  return !token.starts_with("-") && token != "enroll" && !names_agent(token);
}

std::string join_with_white_space(Rng& rng, const std::vector<std::string>& tokens) {
  std::string text = random_white_space(rng, 2);
  for (std::size_t i = 0; i < tokens.size(); ++i) {
    if (i) text += test::encode_utf8(one_of(rng, kWhiteSpace)) + random_white_space(rng, 2);
    text += tokens[i];
  }
  return text + random_white_space(rng, 2);
}

// A token without white space: the code, a hub URL, or noise.
std::string random_word(Rng& rng, const std::string& alphabet, std::size_t max_length) {
  std::string word;
  const std::size_t length = pick(rng, max_length + 1);
  for (std::size_t i = 0; i < length; ++i) word += alphabet[pick(rng, alphabet.size())];
  return word;
}

void check_enrollment_invariants(const std::string& text, const std::string& default_hub) {
  const auto request = parse_enrollment_input(text, default_hub);
  const auto views = split_white_space(text);
  const std::vector<std::string> tokens(views.begin(), views.end());

  // The kind of white space between tokens never matters.
  std::string plain;
  for (const auto& token : tokens) plain += (plain.empty() ? "" : " ") + token;
  EXPECT_EQ(parse_enrollment_input(plain, default_hub), request) << show(text);

  if (!request) {
    // Every would-be code was consumed as the value of a separate "--hub".
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      if (is_candidate(tokens[i])) {
        EXPECT_TRUE(i > 0 && tokens[i - 1] == "--hub") << show(text) << ": no code despite " << show(tokens[i]);
      }
    }
    return;
  }
  EXPECT_NE(std::find(tokens.begin(), tokens.end(), request->code), tokens.end())
      << show(text) << " code " << show(request->code);
  EXPECT_TRUE(is_candidate(request->code)) << show(text) << " code " << show(request->code);
  bool hub_from_text = request->hub == default_hub;
  for (const auto& token : tokens) {
    if (token == request->hub || (token.starts_with("--hub=") && token.substr(6) == request->hub)) hub_from_text = true;
  }
  EXPECT_TRUE(hub_from_text) << show(text) << " hub " << show(request->hub);
}

TEST(Fuzz, EnrollmentInput) {
  fuzz("parse_enrollment_input", [](Rng& rng) {
    static const std::string code_chars = "ABCDEFGHJKLMNPQRSTUVWXYZ23456789-_";
    static const std::string url_chars = "abcdefghijklmnopqrstuvwxyz0123456789:/.-?=&#@%\"'\\";
    const std::string default_hub = chance(rng, 0.1) ? "" : "https://default.example";

    if (chance(rng, 0.5)) {
      // A pasted command line with one code, in any order, with the expected answer.
      std::string code = random_word(rng, code_chars, 16);
      while (code.empty() || code.front() == '-') code = "C" + code;
      std::vector<std::vector<std::string>> groups;  // kept together when shuffled
      groups.push_back({code});
      if (chance(rng, 0.7)) groups.push_back({"enroll"});
      for (std::size_t i = pick(rng, 3); i > 0; --i) {
        groups.push_back({one_of(rng, std::vector<std::string>{"-v", "--verbose", "--state-directory=C:\\x", "-",
                                                              "--hub-x=1", "--HUB=z"})});
      }
      for (std::size_t i = pick(rng, 4); i > 0; --i) {
        std::string url = random_word(rng, url_chars, 20);
        if (chance(rng, 0.5)) {
          groups.push_back({"--hub=" + url});
        } else {
          if (url.empty()) url = one_of(rng, std::vector<std::string>{"enroll", "-x", "--hub", "tallowmered", "CODE"});
          groups.push_back({"--hub", url});
        }
      }
      std::shuffle(groups.begin(), groups.end(), rng);
      // The hub that wins is the last one in the final order.
      std::string hub = default_hub;
      for (const auto& group : groups) {
        if (group.size() == 2) hub = group[1];
        else if (group[0].starts_with("--hub=")) hub = group[0].substr(6);
      }
      std::vector<std::string> tokens;
      if (chance(rng, 0.8)) {
        tokens.push_back(one_of(rng, std::vector<std::string>{"tallowmered", "tallowmered.exe", "C:\\T\\tallowmered.exe",
                                                             "/usr/bin/tallowmered", "tallowmered.exe.exe",
                                                             "\\\\srv\\share\\tallowmered.exe"}));
      }
      for (const auto& group : groups) tokens.insert(tokens.end(), group.begin(), group.end());
      if (chance(rng, 0.2)) tokens.push_back("--hub");  // dangling: leaves the hub as it was
      const std::string text = join_with_white_space(rng, tokens);
      EXPECT_EQ(parse_enrollment_input(text, default_hub), (EnrollmentRequest{code, hub})) << show(text);
      check_enrollment_invariants(text, default_hub);
    } else {
      // Token soup and raw bytes: only properties.
      static const std::vector<std::string> vocabulary = {
          "tallowmered", "tallowmered.exe", "TALLOWMERED.EXE", "enroll", "Enroll", "--hub", "--hub=", "--hub=x",
          "-", "--", "-x", "code", "\"code\"", ".exe", "x.exe", "a\xE2\x80\x8B" "b", "\xFF", "\xC2", "tallowmered.exe.exe"};
      std::string text;
      if (chance(rng, 0.7)) {
        std::vector<std::string> tokens;
        for (std::size_t i = pick(rng, 8); i > 0; --i) {
          tokens.push_back(chance(rng, 0.8) ? one_of(rng, vocabulary) : random_bytes(rng, 6));
        }
        text = join_with_white_space(rng, tokens);
      } else {
        text = random_bytes(rng, 48);
      }
      check_enrollment_invariants(text, default_hub);
    }
  });
}

// ---------------------------------------------------------------------------
// hub_host

TEST(Fuzz, HubHost) {
  fuzz("hub_host", [](Rng& rng) {
    static const std::string host_chars = "abcxyz019.-:@[]?#%_ \\";
    static const std::string scheme_chars = "abhpstz+.-:09";
    std::string url;
    std::optional<std::string> expected;
    if (chance(rng, 0.5)) {
      // scheme "://" host path: the host is what shows. The host holds no "/", so
      // neither it nor the scheme (no "/" either) can contain another "://".
      const std::string host = random_word(rng, host_chars, 12) + random_valid_utf8(rng, 1);
      std::string host_only;
      for (char c : host) if (c != '/') host_only += c;
      const bool with_scheme = chance(rng, 0.7);
      const std::string path = chance(rng, 0.7) ? "/" + random_bytes(rng, 12) : "";
      url = (with_scheme ? random_word(rng, scheme_chars, 6) + "://" : "") + host_only + path;
      // Without a scheme, a host ending in ":" and a path starting "//" make a "://".
      if (with_scheme || url.find("://") == std::string::npos) expected = host_only;
    } else {
      static const std::vector<std::string> pieces = {"://", ":/", "/", ":", "//", "a", "h", "\xC3\xA9", "\xFF", "?"};
      for (std::size_t i = pick(rng, 10); i > 0; --i) url += chance(rng, 0.8) ? one_of(rng, pieces) : random_bytes(rng, 3);
    }

    const std::string_view host = hub_host(url);
    if (expected) {
      EXPECT_EQ(host, *expected) << show(url);
    }
    EXPECT_EQ(host.find('/'), std::string_view::npos) << show(url);
    const std::size_t separator = url.find("://");
    const std::size_t start = separator == std::string::npos ? 0 : separator + 3;
    if (!host.empty()) {
      ASSERT_EQ(host.data(), url.data() + start) << show(url) << " gave " << show(host);
    }
    const std::size_t end = start + host.size();
    ASSERT_LE(end, url.size()) << show(url);
    EXPECT_TRUE(end == url.size() || url[end] == '/') << show(url) << " gave " << show(host);
  });
}

// ---------------------------------------------------------------------------
// Text helpers

struct IllFormedPiece {
  std::string bytes;
  std::size_t replacements;
};

const std::vector<IllFormedPiece> kIllFormed = {
    {"\xFF", 1}, {"\xFE", 1}, {"\xC0", 1}, {"\xC1\xBF", 2}, {"\x80", 1}, {"\xBF\xBF", 2}, {"\xE2\x82", 1},
    {"\xF0\x9F\x98", 1}, {"\xF4\x8F\xBF", 1}, {"\xED\xA0\x80", 3}, {"\xF4\x90\x80\x80", 4}, {"\xC0\xAF", 2},
    {"\xE0\x80\x80", 3}, {"\xF8\x88\x80\x80\x80", 5}, {"\xC3", 1}};

TEST(Fuzz, TextConversion) {
  fuzz("utf8/utf16", [](Rng& rng) {
    switch (pick(rng, 4)) {
      case 0: {  // valid UTF-8 survives the trip through UTF-16 unchanged
        const std::string text = random_valid_utf8(rng, 40);
        ASSERT_TRUE(is_valid_utf8(text)) << show(text);
        EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(text)), text) << show(text);
        EXPECT_EQ(sanitize_utf8(text), text) << show(text);
        break;
      }
      case 1: {  // one ill-formed piece between valid text becomes its replacements only
        const std::string before = random_valid_utf8(rng, 8), after = random_valid_utf8(rng, 8);
        const auto& bad = one_of(rng, kIllFormed);
        const std::string input = before + bad.bytes + after;
        std::string expected = before;
        for (std::size_t i = 0; i < bad.replacements; ++i) expected += "\xEF\xBF\xBD";
        expected += after;
        EXPECT_FALSE(is_valid_utf8(input)) << show(input);
        EXPECT_EQ(sanitize_utf8(input), expected) << show(input);
        EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(input)), expected) << show(input);
        break;
      }
      case 2: {  // any bytes: the result is valid, and both paths agree
        const std::string input = chance(rng, 0.5) ? random_bytes(rng, 64) : mutate(rng, random_valid_utf8(rng, 16));
        const std::string sanitized = sanitize_utf8(input);
        EXPECT_TRUE(is_valid_utf8(sanitized)) << show(input) << " gave " << show(sanitized);
        EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(input)), sanitized) << show(input);
        EXPECT_EQ(is_valid_utf8(input), sanitized == input) << show(input);
        EXPECT_EQ(sanitize_utf8(sanitized), sanitized) << show(input);
        break;
      }
      default: {  // any UTF-16: pairs stay, each unpaired surrogate becomes U+FFFD
        std::u16string units;
        for (std::size_t i = pick(rng, 24); i > 0; --i) {
          units += chance(rng, 0.5) ? static_cast<char16_t>(0xD800 + pick(rng, 0x800))
                                    : static_cast<char16_t>(pick(rng, 0x10000));
        }
        std::u16string expected;
        for (std::size_t i = 0; i < units.size(); ++i) {
          const char16_t u = units[i];
          if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF) {
            expected += u;
            expected += units[++i];
          } else {
            expected += (u >= 0xD800 && u <= 0xDFFF) ? char16_t(0xFFFD) : u;
          }
        }
        const std::string utf8 = utf16_to_utf8(units);
        EXPECT_TRUE(is_valid_utf8(utf8)) << show(utf8);
        EXPECT_EQ(utf8_to_utf16(utf8), expected) << show(utf8);
        break;
      }
    }
  });
}

TEST(Fuzz, TrimAndSplit) {
  fuzz("trim/split", [](Rng& rng) {
    static const std::vector<std::string> other = {
        "a", "Z", "\xE2\x80\x8B", "\xE1\xA0\x8E", "\xEF\xBB\xBF", "\xE2\x81\xA0", std::string(1, '\0'), "\x1C",
        "\x85", "\xA0", "\xC2", "\xE2\x80", "\xE3\x80", "\xC0\xA0", "\xFF", "\xF0\x9F\x98\x80", "\xC3\xA9", "\""};
    std::string text;
    for (std::size_t i = pick(rng, 16); i > 0; --i) {
      text += chance(rng, 0.4) ? test::encode_utf8(one_of(rng, kWhiteSpace)) : one_of(rng, other);
    }
    if (chance(rng, 0.2)) text = random_bytes(rng, 32);

    // Trim: a view into the text, with only white space cut from either end.
    const std::string_view trimmed = trim_white_space(text);
    std::string_view model = text;
    while (const std::size_t n = white_space_prefix(model)) model.remove_prefix(n);
    while (const std::size_t n = white_space_suffix(model)) model.remove_suffix(n);
    EXPECT_EQ(trimmed, model) << show(text);
    if (!trimmed.empty()) {
      EXPECT_EQ(trimmed.data(), model.data()) << show(text);
      EXPECT_EQ(white_space_prefix(trimmed), 0u) << show(text);
      EXPECT_EQ(white_space_suffix(trimmed), 0u) << show(text);
    }

    // Split: the maximal runs without white space, in order, as views into the text.
    std::vector<std::string_view> runs;
    std::size_t run_start = std::string::npos;
    for (std::size_t pos = 0; pos < text.size();) {
      if (const std::size_t n = white_space_prefix(std::string_view(text).substr(pos))) {
        if (run_start != std::string::npos) runs.push_back(std::string_view(text).substr(run_start, pos - run_start));
        run_start = std::string::npos;
        pos += n;
      } else {
        if (run_start == std::string::npos) run_start = pos;
        ++pos;
      }
    }
    if (run_start != std::string::npos) runs.push_back(std::string_view(text).substr(run_start));
    const auto tokens = split_white_space(text);
    ASSERT_EQ(tokens.size(), runs.size()) << show(text);
    for (std::size_t i = 0; i < tokens.size(); ++i) {
      EXPECT_EQ(tokens[i], runs[i]) << show(text) << " token " << i;
      EXPECT_EQ(tokens[i].data(), runs[i].data()) << show(text) << " token " << i;
    }
  });
}

}  // namespace
}  // namespace tallow
