// Bound handlers ("events"): a callable with a fixed signature, or unset.
#pragma once

#include <functional>
#include <type_traits>
#include <typeinfo>
#include <utility>

#include "AnsiString.h"

template <class Signature>
class TEvent;

/// A bound handler returning nothing. It is unset by default; the owner of an
/// event tests it (explicit operator bool) before calling it.
///
/// It binds either any callable (a lambda, a function, a std::function) or an
/// object with one of its member functions. The bound object is not owned: it
/// must outlive every call. A handler bound from a named method (for example
/// one restored from a stored form) carries that method's name, so that it
/// can be saved again by name.
template <class... Args>
class TEvent<void(Args...)> {
 public:
  using Signature = void(Args...);

  /// A text that identifies the handler's signature, equal for equal
  /// signatures in every module of the process. Stored methods are matched to
  /// events by it.
  static const char* SignatureKey() noexcept { return typeid(Signature).name(); }

  TEvent() noexcept = default;
  TEvent(std::nullptr_t) noexcept {}  // NOLINT: allows `event = nullptr`

  template <class F, class = std::enable_if_t<!std::is_same_v<std::decay_t<F>, TEvent> &&
                                              std::is_invocable_v<F&, Args...>>>
  TEvent(F&& f) : FCall(std::forward<F>(f)) {}  // NOLINT: implicit from callables

  /// Binds Object->Method; MethodName is the name it is published under.
  template <class C, class M>
  TEvent(C* Object, void (M::*Method)(Args...), AnsiString MethodName = AnsiString())
      : FCall([Object, Method](Args... a) { (Object->*Method)(std::forward<Args>(a)...); }),
        FObject(Object),
        FMethodName(std::move(MethodName)) {}

  explicit operator bool() const noexcept { return static_cast<bool>(FCall); }

  /// Calls the handler. Calling an unset event throws std::bad_function_call.
  void operator()(Args... a) const { FCall(std::forward<Args>(a)...); }

  /// The object the handler was bound to with a member function, or nullptr.
  const void* Object() const noexcept { return FObject; }
  /// The published name of the bound method, or "" for an anonymous callable.
  const AnsiString& MethodName() const noexcept { return FMethodName; }

 private:
  std::function<void(Args...)> FCall;
  const void* FObject = nullptr;
  AnsiString FMethodName;
};
