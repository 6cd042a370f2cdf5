// The PrefixSearch class: its type object, the creation and release of its
// instances, and the receiver check every method starts with.
#pragma once

#include <cstdint>
#include <memory>

#include "lib/py_error.h"
#include "lib/py_ref.h"
#include "prefix/trie.h"

namespace kelvaro::py {

struct PrefixSearchObject {
  PyObject_HEAD
      // Owned. Only the module's factory sets it; an instance that some
      // interpreter made without running the factory has none, and every method
      // refuses it.
      Trie* trie;
  // The number of calls holding a shared borrow; changed only atomically.
  // All bits set would mark an exclusive borrow, which nothing takes: a Trie
  // never changes after construction.
  std::intptr_t borrow_flag;
};

// The type object, created on first need. Throws PyError when it cannot be
// created.
PyTypeObject* prefix_search_type();

// A new PrefixSearch that owns `trie`.
PyRef new_prefix_search(Trie trie);

// A new instance of `type`, which must be _kelvaro's PrefixSearch type, that
// owns `trie`. Inline, so that kelvaro._native_index, built from the same
// sources, makes instances exactly as _kelvaro does.
inline PyRef adopt_trie(PyTypeObject* type, Trie trie) {
  auto owned = std::make_unique<Trie>(std::move(trie));
  allocfunc allocate = type->tp_alloc != nullptr ? type->tp_alloc : PyType_GenericAlloc;
  PyRef object = checked(allocate(type, 0));
  auto* self = reinterpret_cast<PrefixSearchObject*>(object.get());
  self->trie = owned.release();
  self->borrow_flag = 0;
  return object;
}

// The receiver of a method call, checked and borrowed for the length of the
// call: a reference to it is held and its borrow counter raised until the
// borrow goes out of scope.
class SharedBorrow {
 public:
  explicit SharedBorrow(PyObject* receiver);
  ~SharedBorrow();
  SharedBorrow(const SharedBorrow&) = delete;
  SharedBorrow& operator=(const SharedBorrow&) = delete;

  const Trie& trie() const { return *object_->trie; }

 private:
  PyRef reference_;
  PrefixSearchObject* object_;
};

}  // namespace kelvaro::py
