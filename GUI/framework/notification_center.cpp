// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/notification_center.h"

#include <QObject>
#include <algorithm>

#include "framework/main_thread.h"

namespace quillion {

namespace {
const char kAnySenderTag = 0;
}

const void* const NotificationCenter::AnySender = &kAnySenderTag;

NotificationCenter& NotificationCenter::instance() {
  static NotificationCenter center;
  return center;
}

ObserverId NotificationCenter::observe(QObject* owner, const QString& name, const void* sender,
                                       Handler fn) {
  if (sender == nullptr || owner == nullptr || !fn) return 0;
  ObserverId id = 0;
  {
    std::lock_guard lock(mutex_);
    id = nextId_++;
    entries_.push_back(Entry{id, owner, name, sender, std::move(fn)});
  }
  watchOwner(owner);
  return id;
}

void NotificationCenter::watchOwner(QObject* owner) {
  {
    std::lock_guard lock(mutex_);
    if (std::find(watchedOwners_.begin(), watchedOwners_.end(), owner) != watchedOwners_.end())
      return;
    watchedOwners_.push_back(owner);
  }
  // Direct connection: destroyed() is emitted from the owner's destructor, on its thread.
  QObject::connect(owner, &QObject::destroyed, [this, owner] { remove(owner); });
}

void NotificationCenter::removeObserver(ObserverId id) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::remove(QObject* owner) {
  std::lock_guard lock(mutex_);
  std::erase_if(entries_, [owner](const Entry& e) { return e.owner == owner; });
  std::erase(watchedOwners_, owner);
}

void NotificationCenter::post(const QString& name, const void* sender, QVariantMap info) {
  if (!isMainThread()) {
    postFromAnyThread(name, sender, std::move(info));
    return;
  }
  deliver(Notification{name, sender, std::move(info)});
}

void NotificationCenter::postFromAnyThread(QString name, const void* sender, QVariantMap info) {
  postToMain([this, n = Notification{std::move(name), sender, std::move(info)}] { deliver(n); });
}

bool NotificationCenter::isRegistered(ObserverId id) const {
  std::lock_guard lock(mutex_);
  return std::any_of(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
}

void NotificationCenter::deliver(const Notification& n) {
  // Handlers may add or remove observers (also themselves), so dispatch works on a copy and
  // skips an observer that a previous handler removed.
  std::vector<std::pair<ObserverId, Handler>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const Entry& e : entries_) {
      if (e.name == n.name && (e.sender == AnySender || e.sender == n.sender))
        targets.emplace_back(e.id, e.fn);
    }
  }
  for (const auto& [id, fn] : targets) {
    if (isRegistered(id)) fn(n);
  }
}

std::size_t NotificationCenter::observerCount() const {
  std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace quillion
