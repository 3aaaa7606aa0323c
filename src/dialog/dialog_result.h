#pragma once
// What the input dialog's window leaves behind for the code that runs the dialog.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace tallow {

// One dialog's outcome: pending until the user accepts (with the field's text) or
// cancels. Writing replaces what the slot held; taking empties it back to pending.
class DialogResultSlot {
 public:
  void reset() { *this = DialogResultSlot(); }
  void accept(std::string text) {
    state_ = State::accepted;
    text_ = std::move(text);
  }
  void cancel() {
    state_ = State::cancelled;
    text_.clear();
  }
  bool pending() const { return state_ == State::pending; }

  // The accepted text, or none when cancelled or still pending; leaves the slot pending.
  std::optional<std::string> take() {
    std::optional<std::string> result;
    if (state_ == State::accepted) result = std::move(text_);
    reset();
    return result;
  }

 private:
  enum class State { pending, cancelled, accepted };
  State state_ = State::pending;
  std::string text_;
};

// The text of the edit field as UTF-8, from a buffer the system copied `reported` UTF-16
// units into. A negative report counts as none and a report past the buffer stops at
// its end; each unpaired surrogate becomes U+FFFD.
std::string field_text(std::u16string_view buffer, std::int64_t reported);

}  // namespace tallow
