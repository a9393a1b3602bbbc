#pragma once

#include <QUrl>
#include <QUuid>

#include "FakeHttpExchange.h"

namespace tessvale {

// The demo service's sign-in page as a browser shows it, over plain HTTP on loopback.
namespace FakeSignInPage {

// What the page says of its attempt; the wire names of "/authorize/status".
enum class State { approved, signedIn, closed };

// Approved: a link to callback, which a browser opens only on the user's click, and a Refresh header
// to it for a client that goes on by itself (the stand-in browser). It then follows the attempt
// until Tessvale has exchanged its code, and only then says that the sign-in worked.
FakeHttpResponse approved(const QUrl& callback, const QUuid& attemptID);
// The page as it stands once the attempt is exchanged (a reload after the sign-in).
FakeHttpResponse signedIn(const QUuid& attemptID);
// {"Status":"Approved"|"SignedIn"|"Closed"}
FakeHttpResponse status(State state);

} // namespace FakeSignInPage

} // namespace tessvale
