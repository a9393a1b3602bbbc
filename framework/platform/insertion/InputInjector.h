#pragma once

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"

namespace tessvale {

// Synthesizes key events into whatever window has keyboard focus.
class InputInjector
{
public:
    virtual ~InputInjector() = default;

    // Whether key events can be synthesized at all.
    virtual bool isAvailable() = 0;

    // Names of the modifier keys the user holds down now ("Control_L", ...); empty when none.
    virtual QStringList heldModifiers() = 0;

    // The paste shortcut; false when it could not be sent.
    virtual bool emitPasteShortcut() = 0;

    // Types text exactly, whatever the keyboard layout. Emits nothing after token is cancelled
    // (throws CancelledError then); returns false when the text could not be typed.
    virtual QCoro::Task<bool> typeText(QString text, CancelToken token) = 0;
};

} // namespace tessvale
