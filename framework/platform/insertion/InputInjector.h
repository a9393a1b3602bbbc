#pragma once

#include <functional>

#include <QString>
#include <QStringList>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"
#include "platform/PlatformResult.h"

namespace tessvale {

// (Not a nested "Status": Xlib defines that name as a macro.)
enum class TypingStatus {
    complete,
    // Nothing or only part could be typed (no keyboard, no spare key codes, ...).
    failed,
    // The target lost the keyboard focus; typing stopped before the rest went elsewhere.
    focusMoved,
    // Every key was sent, but the target did not confirm in time that it read the keys typed on
    // borrowed key codes: whether they became the right characters is unknown.
    unconfirmed,
};

// How far one typing run got.
struct TypingOutcome
{
    TypingStatus status = TypingStatus::complete;
    // Characters (code points) of the text known to have reached the target: sent while it held the
    // keyboard focus before and after them (the keys under way when the focus moved are not counted).
    qsizetype typedCharacters = 0;
    // Characters whose keys were sent, wherever they went.
    qsizetype sentCharacters = 0;
};

// Synthesizes key events into whatever window has keyboard focus.
class InputInjector
{
public:
    virtual ~InputInjector() = default;

    // Whether key events can be synthesized at all.
    virtual bool isAvailable() = 0;

    // Names of the modifier keys the user holds down now ("Control_L", ...); empty when none.
    virtual QStringList heldModifiers() = 0;

    // The paste shortcut; fails, saying why, when it could not be sent.
    virtual PlatformResult emitPasteShortcut() = 0;

    // Types text exactly, whatever the keyboard layout. Before each batch of keys, after each answer
    // of the target and after the last key it asks stillOnTarget (when given) and stops with
    // focusMoved when the answer is false. Emits nothing after token is cancelled (throws
    // CancelledError then).
    virtual QCoro::Task<TypingOutcome> typeText(QString text, std::function<bool()> stillOnTarget, CancelToken token)
        = 0;
};

} // namespace tessvale
