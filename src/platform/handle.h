// One owner for every kind of system handle: the traits name the handle's
// type, its "none" value and how it is closed.
#pragma once

#include <cstdint>

namespace platform {

template <typename Traits>
class ScopedHandle {
 public:
  using Type = typename Traits::Type;

  ScopedHandle() = default;
  explicit ScopedHandle(Type h) : h_(h) {}
  ~ScopedHandle() { reset(); }
  ScopedHandle(ScopedHandle&& other) noexcept : h_(other.release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  bool valid() const { return h_ != Traits::none(); }
  Type get() const { return h_; }
  // Gives the handle up without closing it.
  Type release() {
    Type h = h_;
    h_ = Traits::none();
    return h;
  }
  // Closes the handle held (if any) and takes h; false when that close failed.
  bool reset(Type h = Traits::none()) {
    Type old = h_;
    h_ = h;
    return old == Traits::none() || Traits::close(old);
  }

 private:
  Type h_ = Traits::none();
};

// A Windows HANDLE (CloseHandle) or a POSIX file descriptor (close), held as
// an integer so that headers need no system header; -1 is none.
struct SystemHandleTraits {
  using Type = intptr_t;
  static constexpr intptr_t none() { return -1; }
  static bool close(intptr_t h);
};
using SystemHandle = ScopedHandle<SystemHandleTraits>;

}  // namespace platform
