// Why a byte string does not decode to a trie.
//
// A DecodeError is a plain value: the decoder returns it, tests compare it,
// and only the caller that reports it asks for its text form. The text form
// is what a Python caller sees after "called `Result::unwrap()` on an `Err`
// value: ", so it is exact to the byte:
//
//   UnexpectedEnd { additional: 1 }
//   InvalidIntegerType { expected: U32, found: U64 }
//   UnexpectedVariant { type_name: "core::option::Option<char>", allowed: Range { min: 0, max: 1 },
//   found: 2 } InvalidCharEncoding([237, 160, 128, 0])
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace kelvaro {

// The integer widths that a marker byte can announce. Reserved is the one
// marker that announces nothing.
enum class IntegerType : std::uint8_t { U32, U64, U128, Reserved };

// The input ended inside a value that needed `additional` more bytes.
struct UnexpectedEnd {
  std::size_t additional;
  friend bool operator==(const UnexpectedEnd&, const UnexpectedEnd&) = default;
};

// A marker byte announced an integer wider than the reading accepts.
struct InvalidIntegerType {
  IntegerType expected;
  IntegerType found;
  friend bool operator==(const InvalidIntegerType&, const InvalidIntegerType&) = default;
};

// An inclusive range of tag values.
struct Range {
  std::uint32_t min;
  std::uint32_t max;
  friend bool operator==(const Range&, const Range&) = default;
};

// An option tag was neither "absent" nor "present". `type_name` names the
// optional type being read and always points at a string literal.
struct UnexpectedVariant {
  std::string_view type_name;
  Range allowed;
  std::uint32_t found;
  friend bool operator==(const UnexpectedVariant&, const UnexpectedVariant&) = default;
};

// Character bytes that are not one well-formed UTF-8 sequence: the bytes
// read, filled up to four with zeros.
struct InvalidCharEncoding {
  std::array<std::uint8_t, 4> bytes;
  friend bool operator==(const InvalidCharEncoding&, const InvalidCharEncoding&) = default;
};

class DecodeError {
 public:
  using Kind =
      std::variant<UnexpectedEnd, InvalidIntegerType, UnexpectedVariant, InvalidCharEncoding>;

  // Implicit, so that a reader can return or store any kind directly.
  DecodeError(UnexpectedEnd kind) : kind_(kind) {}
  DecodeError(InvalidIntegerType kind) : kind_(kind) {}
  DecodeError(UnexpectedVariant kind) : kind_(kind) {}
  DecodeError(InvalidCharEncoding kind) : kind_(kind) {}

  const Kind& kind() const { return kind_; }
  std::string to_string() const;

  friend bool operator==(const DecodeError&, const DecodeError&) = default;

 private:
  Kind kind_;
};

std::string_view to_string(IntegerType type);

}  // namespace kelvaro
