// The errors of input-source setup (a domain, a code and the English sentence shown to the user),
// the result that asynchronous setup work hands to its completion, and the flag that cancels it.
// Thread-safety: values; a Cancellation is raised and read on the main thread.
#ifndef TOLVANI_SETUP_SETUPERROR_H_
#define TOLVANI_SETUP_SETUPERROR_H_

#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <variant>

namespace tolvani {

inline constexpr char16_t kInputSourceDomain[] = u"Tolvani.InputSource";
inline constexpr char16_t kInputMenuDomain[] = u"Tolvani.InputMenu";
inline constexpr char16_t kSetupDomain[] = u"Tolvani.Setup";
// A child that could not be started: the code is the system's errno.
inline constexpr char16_t kPosixDomain[] = u"POSIX";
// Work given up because its caller cancelled it.
inline constexpr char16_t kCancelledDomain[] = u"Cancelled";

struct SetupError {
  QString domain;
  int code = 0;
  QString message;  // the user-facing sentence

  static SetupError inputSource(int code, QString message) {
    return {QString::fromUtf16(kInputSourceDomain), code, std::move(message)};
  }
  static SetupError inputMenu(int code, QString message) {
    return {QString::fromUtf16(kInputMenuDomain), code, std::move(message)};
  }
  static SetupError setup(int code, QString message) {
    return {QString::fromUtf16(kSetupDomain), code, std::move(message)};
  }
  static SetupError cancelled() {
    return {QString::fromUtf16(kCancelledDomain), 0, QStringLiteral("Cancelled.")};
  }
  bool isCancellation() const { return domain == QString::fromUtf16(kCancelledDomain); }
  bool operator==(const SetupError&) const = default;
};

// A value or the error that took its place.
template <class T>
class [[nodiscard]] SetupResult {
 public:
  SetupResult(T value) : state_(std::move(value)) {}
  SetupResult(SetupError error) : state_(std::move(error)) {}

  bool ok() const { return state_.index() == 0; }
  // Requires: ok().
  const T& value() const { return std::get<0>(state_); }
  T& value() { return std::get<0>(state_); }
  // Requires: !ok().
  const SetupError& error() const { return std::get<1>(state_); }

 private:
  std::variant<T, SetupError> state_;
};

// The value of work that yields nothing but success.
struct Done {
  bool operator==(const Done&) const = default;
};

template <class T>
using SetupCompletion = std::function<void(SetupResult<T>)>;

// Raised by whoever started a piece of work to make it stop at its next check.
class Cancellation {
 public:
  void cancel() { cancelled_ = true; }
  bool isCancelled() const { return cancelled_; }

 private:
  bool cancelled_ = false;
};

using CancellationRef = std::shared_ptr<Cancellation>;

inline bool isCancelled(const CancellationRef& cancellation) {
  return cancellation && cancellation->isCancelled();
}

}  // namespace tolvani

#endif  // TOLVANI_SETUP_SETUPERROR_H_
