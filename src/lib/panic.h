// PanicException: how an internal error reaches Python.
#pragma once

#include <string_view>

namespace kelvaro::py {

// Sets PanicException(message) as the pending exception, creating the type
// on first use. If the type cannot be created, the exception that prevented
// it stays pending instead.
void raise_panic(std::string_view message) noexcept;

}  // namespace kelvaro::py
