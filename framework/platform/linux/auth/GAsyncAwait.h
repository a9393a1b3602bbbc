#pragma once

#include "platform/linux/BackendOnly.h"

#include <functional>
#include <memory>

#include <QObject>

#include <qcoro/qcorotask.h>

#include "async/CancelToken.h"

// GIO names a struct member "signals", which Qt defines as a keyword macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

namespace tessvale::glib {

struct ObjectUnref
{
    void operator()(gpointer object) const
    {
        if (object)
            g_object_unref(object);
    }
};

// Owns one reference to a GObject.
template <typename T> using ObjectRef = std::unique_ptr<T, ObjectUnref>;

// Begins one GIO-style asynchronous call, given the callback and data to pass it.
using AsyncStart = std::function<void(GAsyncReadyCallback callback, gpointer userData)>;

// Starts the call and resumes with its result once GLib calls back, on this thread; the caller
// hands the result to the call's _finish function. The callback comes from this thread's GLib
// main context, which Qt's GLib event dispatcher runs; under any other dispatcher the context is
// iterated here while the call is pending.
// Once token is cancelled, throws CancelledError without waiting for the callback. The call itself
// is not cancelled: cancelling an unlock makes libsecret dismiss the keyring's prompt, which
// gnome-keyring 42 does not survive, and libsecret 0.20 then never calls back. An abandoned call
// keeps its own references to what it was given; its late callback only frees the pending state,
// and a prompt it opened stays with the user.
QCoro::Task<ObjectRef<GAsyncResult>> awaitAsync(AsyncStart start, CancelToken token);

// Whether this thread's Qt event loop also runs its GLib main context.
bool threadRunsGLibMainContext();

} // namespace tessvale::glib
