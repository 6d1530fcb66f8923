#include "platform/NotificationCenter.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace tolvani::platform {

namespace {

using Token = NotificationCenter::Token;

struct Entry {
  Token token;
  QString name;
  NotificationCenter::Observer observer;
  std::atomic<bool> removed{false};

  Entry(Token t, QString n, NotificationCenter::Observer o)
      : token(t), name(std::move(n)), observer(std::move(o)) {}
};

}  // namespace

struct NotificationCenter::State {
  std::mutex mu;
  Token nextToken = 1;                          // guarded by mu
  std::vector<std::shared_ptr<Entry>> entries;  // guarded by mu, in the order added
};

NotificationCenter& NotificationCenter::defaultCenter() {
  // Never destroyed: observers made before the centre's first use (the input controllers of the
  // front end's session table) are removed by exit handlers that run after a static centre's.
  static NotificationCenter* const center = new NotificationCenter();
  return *center;
}

NotificationCenter::NotificationCenter() : state_(std::make_shared<State>()) {}
NotificationCenter::~NotificationCenter() = default;

NotificationCenter::Token NotificationCenter::addObserver(const QString& name, Observer observer) {
  std::lock_guard lock(state_->mu);
  const Token token = state_->nextToken++;
  state_->entries.push_back(std::make_shared<Entry>(token, name, std::move(observer)));
  return token;
}

void NotificationCenter::removeObserver(Token token) {
  std::lock_guard lock(state_->mu);
  auto& entries = state_->entries;
  for (auto it = entries.begin(); it != entries.end(); ++it) {
    if ((*it)->token == token) {
      (*it)->removed = true;
      entries.erase(it);
      return;
    }
  }
}

void NotificationCenter::post(const QString& name, std::optional<QVariantMap> userInfo) {
  // Observers run without the lock so that they may add and remove observers and post again.
  std::vector<std::shared_ptr<Entry>> matching;
  {
    std::lock_guard lock(state_->mu);
    for (const auto& entry : state_->entries)
      if (entry->name == name) matching.push_back(entry);
  }
  const Notification notification{name, std::move(userInfo)};
  for (const auto& entry : matching) {
    if (!entry->removed) entry->observer(notification);
  }
}

}  // namespace tolvani::platform
