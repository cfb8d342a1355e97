// SPDX-License-Identifier: GPL-2.0-or-later
// Widgets and the models bound to them live on the main thread only. Worker code hands its
// results over with postToMain(); it never calls a widget itself.
#pragma once

#include <functional>

class QObject;

namespace quillion {

// True on the thread that runs the application's event loop (or, before the application
// object exists, on no thread: nothing may touch the interface then).
bool isMainThread();

// Queues `fn` to run on the main thread's event loop. Safe from any thread. When `context`
// is given and is destroyed before the call runs, the call is dropped.
void postToMain(std::function<void()> fn, QObject* context = nullptr);

}  // namespace quillion
