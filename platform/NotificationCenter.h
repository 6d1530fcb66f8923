// A synchronous, in-process notification centre. Thread-safety: safe for concurrent use; a post
// calls its observers on the posting thread, in the order they were added. An observer may remove
// itself or others and add new ones during a post: those added are not called by that post, those
// removed before their turn are not called.
#ifndef TOLVANI_PLATFORM_NOTIFICATIONCENTER_H_
#define TOLVANI_PLATFORM_NOTIFICATIONCENTER_H_

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace tolvani::platform {

struct Notification {
  QString name;
  // None when the poster gave no user-info dictionary.
  std::optional<QVariantMap> userInfo;
};

class NotificationCenter {
 public:
  using Observer = std::function<void(const Notification&)>;
  using Token = std::uint64_t;

  // The process's centre; it lasts through the process's exit handlers.
  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Calls `observer` for every later post of `name`. The token is never 0.
  Token addObserver(const QString& name, Observer observer);
  // Removing an unknown or already removed token does nothing.
  void removeObserver(Token token);
  void post(const QString& name, std::optional<QVariantMap> userInfo = std::nullopt);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace tolvani::platform

#endif  // TOLVANI_PLATFORM_NOTIFICATIONCENTER_H_
