#pragma once

#include <functional>

#include <QString>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/TaskHandle.h"

class QObject;

namespace tessvale {

using TaskBody = std::function<QCoro::Task<>(CancelToken)>;

// Runs body on context's thread from the event loop, after the caller returns and in posting order.
// Dropped if context is destroyed before it starts; what escapes body is logged with label.
// The body is kept alive until its coroutine finishes.
TaskHandle spawnOnMain(QObject* context, TaskBody body, QString label = {});

// Runs an already-started awaitable body to its end, logging what escapes. For fire-and-forget calls
// made from the main thread that need no posting.
void runDetached(TaskBody body, CancelToken token = {}, QString label = {});

} // namespace tessvale
