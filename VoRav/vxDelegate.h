// Handler methods: a code pointer bound to an object pointer.
//
// A TDelegate is small, copyable and comparable: two delegates are equal when
// they call the same method on the same object. "Assigned" means not null.
//
//   TDelegate<void(int)> d = TDelegate<void(int)>::Bind<&TMyClass::OnChange>(obj);
//   if (d) d(42);
#pragma once

#include <utility>

namespace kav {

template <class Sig>
class TDelegate;

template <class R, class... A>
class TDelegate<R(A...)> {
 public:
  TDelegate() noexcept = default;
  TDelegate(std::nullptr_t) noexcept {}

  // Binds a member function to an object. The object is not owned.
  template <auto Method, class C>
  static TDelegate Bind(C* obj) noexcept {
    TDelegate d;
    d.obj_ = const_cast<void*>(static_cast<const void*>(obj));
    d.fn_ = [](void* o, A... args) -> R { return (static_cast<C*>(o)->*Method)(std::forward<A>(args)...); };
    return d;
  }
  // Binds a free function (no object).
  template <R (*Fn)(A...)>
  static TDelegate Bind() noexcept {
    TDelegate d;
    d.fn_ = [](void*, A... args) -> R { return Fn(std::forward<A>(args)...); };
    return d;
  }
  // Binds a plain function taking the context pointer first.
  static TDelegate FromFunction(R (*fn)(void*, A...), void* context) noexcept {
    TDelegate d;
    d.obj_ = context;
    d.fn_ = fn;
    return d;
  }

  R operator()(A... args) const { return fn_(obj_, std::forward<A>(args)...); }
  explicit operator bool() const noexcept { return fn_ != nullptr; }
  bool Assigned() const noexcept { return fn_ != nullptr; }
  void* Object() const noexcept { return obj_; }

  friend bool operator==(const TDelegate& a, const TDelegate& b) noexcept {
    return a.fn_ == b.fn_ && a.obj_ == b.obj_;
  }
  friend bool operator==(const TDelegate& a, std::nullptr_t) noexcept { return a.fn_ == nullptr; }

 private:
  void* obj_ = nullptr;
  R (*fn_)(void*, A...) = nullptr;
};

}  // namespace kav
