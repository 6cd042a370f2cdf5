#include "codec/decode_error.h"

namespace kelvaro {
namespace {

std::string number(std::uint64_t value) {
  return std::to_string(value);
}

std::string text_form(const UnexpectedEnd& error) {
  return "UnexpectedEnd { additional: " + number(error.additional) + " }";
}

std::string text_form(const InvalidIntegerType& error) {
  return "InvalidIntegerType { expected: " + std::string(to_string(error.expected)) +
         ", found: " + std::string(to_string(error.found)) + " }";
}

std::string text_form(const Range& range) {
  return "Range { min: " + number(range.min) + ", max: " + number(range.max) + " }";
}

// Type names are fixed literals without quotes or backslashes, so writing
// them between double quotes needs no escaping.
std::string text_form(const UnexpectedVariant& error) {
  return "UnexpectedVariant { type_name: \"" + std::string(error.type_name) +
         "\", allowed: " + text_form(error.allowed) + ", found: " + number(error.found) + " }";
}

std::string text_form(const InvalidCharEncoding& error) {
  std::string text = "InvalidCharEncoding([";
  for (std::size_t i = 0; i < error.bytes.size(); ++i) {
    if (i > 0) text += ", ";
    text += number(error.bytes[i]);
  }
  return text + "])";
}

}  // namespace

std::string_view to_string(IntegerType type) {
  switch (type) {
    case IntegerType::U32:
      return "U32";
    case IntegerType::U64:
      return "U64";
    case IntegerType::U128:
      return "U128";
    case IntegerType::Reserved:
      return "Reserved";
  }
  return "Reserved";
}

std::string DecodeError::to_string() const {
  return std::visit([](const auto& kind) { return text_form(kind); }, kind_);
}

}  // namespace kelvaro
