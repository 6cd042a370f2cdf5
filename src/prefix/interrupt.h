// Interrupting long loops of the core.
//
// A lookup over a large trie, or the decoding or building of one, can run
// for seconds, and the person waiting must be able to stop it. The core knows
// nothing of who calls it, so whoever embeds it installs a hook, once, that
// checks whether the work should stop and throws if so; the exception then
// unwinds through the core like any other, releasing everything the
// operation built. Loops count their work with an InterruptCheck and call
// the hook every few thousand units: often enough to answer within a few
// milliseconds, rarely enough to cost nothing measurable.
#pragma once

#include <cstdint>

namespace kelvaro {

class InterruptCheck {
 public:
  using Hook = void (*)();

  // Installs the hook for every loop of the core that runs on this side of
  // the module boundary. Null turns checking off.
  static void install(Hook hook) noexcept { hook_ = hook; }

  // Counts `units` of work (each about as costly as visiting a node).
  void tick(std::uint32_t units = 1) {
    if (countdown_ <= units) [[unlikely]] {
      countdown_ = kInterval;
      if (hook_ != nullptr) hook_();
      return;
    }
    countdown_ -= units;
  }

 private:
  static constexpr std::uint32_t kInterval = 1u << 14;
  static inline Hook hook_ = nullptr;
  std::uint32_t countdown_ = kInterval;
};

}  // namespace kelvaro
