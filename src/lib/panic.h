// PanicException: how an internal error reaches Python.
#pragma once

#include <string_view>

namespace kelvaro::py {

// Sets PanicException(message) as the pending exception, creating the type
// on first use. If the type cannot be created, the exception that prevented
// it stays pending instead. It lives in a shared library of its own, which
// every extension module of the package loads, so that the type is one.
__attribute__((visibility("default"))) void raise_panic(std::string_view message) noexcept;

}  // namespace kelvaro::py
