// SPDX-License-Identifier: GPL-2.0-or-later
// Process-wide notifications by name, filtered by sender identity. Windows, models and the
// shell talk to each other through global names while each window listens only to its own
// views, which plain signal connections cannot express without every party knowing every
// other.
#pragma once

#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

class QObject;

namespace quillion {

struct Notification {
  QString name;
  const void* sender = nullptr;  // compared by identity only, never dereferenced
  QVariantMap userInfo;
};

using ObserverId = std::uint64_t;

class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  // Observing with this sender receives the name from every sender.
  static const void* const AnySender;

  static NotificationCenter& instance();

  NotificationCenter() = default;
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Registers `fn` for `name` posted by `sender`. A null sender registers nothing and answers
  // 0: a view that does not exist in a window must not turn into "any sender". The
  // registration ends by itself when `owner` is destroyed.
  ObserverId observe(QObject* owner, const QString& name, const void* sender, Handler fn);
  void removeObserver(ObserverId id);
  void remove(QObject* owner);  // every registration of that owner

  // On the main thread the observers run before post() returns, in registration order.
  // From any other thread the notification is queued to the main thread instead: observers
  // always run on the main thread.
  void post(const QString& name, const void* sender = nullptr, QVariantMap info = {});
  void postFromAnyThread(QString name, const void* sender, QVariantMap info = {});

  std::size_t observerCount() const;

 private:
  struct Entry {
    ObserverId id;
    QObject* owner;
    QString name;
    const void* sender;
    Handler fn;
  };

  void deliver(const Notification& n);
  bool isRegistered(ObserverId id) const;
  void watchOwner(QObject* owner);

  mutable std::mutex mutex_;
  std::vector<Entry> entries_;
  std::vector<QObject*> watchedOwners_;
  ObserverId nextId_ = 1;
};

}  // namespace quillion
