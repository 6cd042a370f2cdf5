// Ctrl-C during a long native call: the hook that the core's loops call now
// and then (prefix/interrupt.h), answering a pending signal the way the
// interpreter would, with its handler's exception, usually KeyboardInterrupt.
#pragma once

#include "prefix/interrupt.h"

namespace kelvaro::py {

// Installs the hook; each extension module calls it when it initialises.
void install_interrupt_hook() noexcept;

}  // namespace kelvaro::py
