// SPDX-License-Identifier: GPL-2.0-or-later
#include "framework/main_thread.h"

#include <QCoreApplication>
#include <QThread>

namespace quillion {

bool isMainThread() {
  const QCoreApplication* app = QCoreApplication::instance();
  return app != nullptr && QThread::currentThread() == app->thread();
}

void postToMain(std::function<void()> fn, QObject* context) {
  QObject* target = context ? context : QCoreApplication::instance();
  if (target == nullptr || !fn) return;
  QMetaObject::invokeMethod(target, std::move(fn), Qt::QueuedConnection);
}

}  // namespace quillion
