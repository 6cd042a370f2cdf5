// Internal errors: failures inside the core that an operation cannot handle.
//
// The core reports them by throwing InternalError. Nothing in the core
// catches it: the exception unwinds through RAII owners, which release
// everything the operation built, up to the calling frame of the Python
// module, which turns it into PanicException. Throwing is therefore the
// only way a core operation gives up, and no cleanup code is ever written
// by hand on that path.
#pragma once

#include <cstddef>
#include <source_location>
#include <string>

namespace kelvaro {

class InternalError {
 public:
  explicit InternalError(std::string message) : message_(std::move(message)) {}
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

// Writes the failure report (thread, source location, message) to standard
// error, for failures that reach the calling frame by another way.
void report_failure(const std::string& message,
                    std::source_location where = std::source_location::current());

// Writes the failure report (thread, source location, message) to standard
// error and throws InternalError with the message.
[[noreturn]] void fail(std::string message,
                       std::source_location where = std::source_location::current());

// "index out of bounds: the len is <len> but the index is <index>"
[[noreturn]] void fail_out_of_bounds(std::size_t len, std::size_t index,
                                     std::source_location where = std::source_location::current());

// A required value was absent.
[[noreturn]] void fail_none(std::source_location where = std::source_location::current());

// Reads element `index` of `array`, failing with the out-of-bounds error when
// it lies beyond the end.
template <typename Array>
decltype(auto) checked_at(const Array& array, std::size_t index,
                          std::source_location where = std::source_location::current()) {
  if (index >= array.size()) [[unlikely]]
    fail_out_of_bounds(array.size(), index, where);
  return array[index];
}

// The failure report goes to standard error by default. Fuzzing harnesses
// switch it off, because they provoke millions of internal errors on purpose.
void set_failure_reports(bool enabled) noexcept;

}  // namespace kelvaro
