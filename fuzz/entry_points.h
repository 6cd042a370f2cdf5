// The two functions libFuzzer calls, the same for every target: each target
// defines kelvaro::fuzz::run, which checks one input, and includes this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "prefix/internal_error.h"

namespace kelvaro::fuzz {
void run(std::span<const std::uint8_t> input);
}  // namespace kelvaro::fuzz

// The targets provoke internal errors on purpose, millions of them; their
// reports would only bury the fuzzer's own output.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  kelvaro::set_failure_reports(false);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  kelvaro::fuzz::run(std::span<const std::uint8_t>(data, size));
  return 0;
}
