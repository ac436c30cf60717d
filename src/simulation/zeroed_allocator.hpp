// An allocator for counters that start at zero. calloc's memory is zero, and
// a large block comes as fresh pages that calloc does not write, so a vector
// of n zeros takes its pages only as they are first written: sizing one
// costs no time in proportion to n, and allocation failure is still
// std::bad_alloc. Value-initialising an element leaves its zero bytes, which
// for an integer (an implicit-lifetime type, created by calloc) are the
// value 0; so a vector with this allocator may be sized, copied and
// assigned, but must not shrink and grow again (the elements regained would
// keep their old values).
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace blocklevels::simulation {

template <class T>
struct ZeroedAllocator {
  static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_copyable_v<T>,
                "an integer, whose zero bytes are the value 0");
  using value_type = T;

  ZeroedAllocator() = default;
  template <class U>
  explicit ZeroedAllocator(const ZeroedAllocator<U>&) noexcept {}

  T* allocate(std::size_t n) {
    void* p = std::calloc(n, sizeof(T));
    if (p == nullptr) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, std::size_t) noexcept { std::free(p); }

  template <class U>
  void construct(U*) noexcept {}
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }

  friend bool operator==(const ZeroedAllocator&, const ZeroedAllocator&) { return true; }
};

}  // namespace blocklevels::simulation
