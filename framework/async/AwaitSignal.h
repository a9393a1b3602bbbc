#pragma once

#include <QMetaObject>
#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "async/OneShot.h"

namespace tessvale {

// Waits for the next emission of signal from sender, ignoring its arguments. Throws CancelledError
// when token is cancelled first, and std::runtime_error when sender is destroyed first.
template <typename Sender, typename Signal>
QCoro::Task<> awaitSignal(Sender* sender, Signal signal, CancelToken token = {})
{
    token.throwIfCancelled();
    OneShot<> fired;
    auto connection = QObject::connect(sender, signal, sender, [fired]() mutable { fired.resolve(); });
    auto destroyed = QObject::connect(sender, &QObject::destroyed,
        [fired]() mutable { fired.fail(std::runtime_error("The object was destroyed while awaited.")); });
    auto registration = token.onCancel(sender, [fired]() mutable { fired.fail(CancelledError()); });
    try {
        co_await fired;
    } catch (...) {
        QObject::disconnect(connection);
        QObject::disconnect(destroyed);
        throw;
    }
    QObject::disconnect(connection);
    QObject::disconnect(destroyed);
}

} // namespace tessvale
