#include "FakeSignInPage.h"

#include <QString>

namespace tessvale::FakeSignInPage {

namespace {

const char* statusName(State state)
{
    switch (state) {
    case State::approved:
        return "Approved";
    case State::signedIn:
        return "SignedIn";
    case State::closed:
        return "Closed";
    }
    return "Closed";
}

// The texts of each state, shown first by the server and then by the page itself as the attempt moves.
const char* heading(State state)
{
    switch (state) {
    case State::approved:
        return "Sign-in approved";
    case State::signedIn:
        return "Signed in \u2014 you can return to Tessvale";
    case State::closed:
        return "This sign-in is no longer open";
    }
    return "";
}

const char* detail(State state)
{
    switch (state) {
    case State::approved:
        return "To finish, choose Open Tessvale below. If your browser asks whether to open Tessvale, allow it.";
    case State::signedIn:
        return "Tessvale is signed in to the demo service. You can close this tab.";
    case State::closed:
        return "Start the sign-in again from Tessvale.";
    }
    return "";
}

QByteArray document(State state, const QUrl& callback, const QUuid& attemptID)
{
    const QString id = attemptID.toString(QUuid::WithoutBraces).toLower();
    const QString link = callback.isEmpty() ? QString()
                                            : QStringLiteral("<p id=\"link\"><a href=\"%1\">Open Tessvale</a></p>")
                                                  .arg(QString::fromLatin1(callback.toEncoded()).toHtmlEscaped());
    // Asks the service every second while the attempt is approved but not yet exchanged.
    const QString script = state != State::approved
        ? QString()
        : QStringLiteral(R"(<script>
const texts = { SignedIn: ["%2", "%3"], Closed: ["%4", "%5"] };
async function poll() {
  try {
    const status = (await (await fetch("/authorize/status?attemptId=%1")).json()).Status;
    if (texts[status]) {
      [document.getElementById("heading").textContent, document.getElementById("detail").textContent] = texts[status];
      document.getElementById("link")?.remove();
      return;
    }
  } catch (error) {}
  setTimeout(poll, 1000);
}
setTimeout(poll, 1000);
</script>)")
              .arg(id, QString::fromUtf8(heading(State::signedIn)), QString::fromUtf8(detail(State::signedIn)),
                  QString::fromUtf8(heading(State::closed)), QString::fromUtf8(detail(State::closed)));
    return QStringLiteral(R"(<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>Tessvale demo service</title>
<meta name="viewport" content="width=device-width, initial-scale=1">
<style>body { font-family: sans-serif; max-width: 36em; margin: 4em auto; padding: 0 1em; line-height: 1.5; }</style>
</head><body>
<h1 id="heading">%1</h1>
<p id="detail">%2</p>
%3%4
</body></html>
)")
        .arg(QString::fromUtf8(heading(state)), QString::fromUtf8(detail(state)), link, script)
        .toUtf8();
}

} // namespace

FakeHttpResponse approved(const QUrl& callback, const QUuid& attemptID)
{
    FakeHttpResponse response = FakeHttpResponse::html(200, document(State::approved, callback, attemptID));
    response.headers.append({ QByteArray("Refresh"), "0; url=" + callback.toEncoded() });
    response.headers.append({ QByteArray("Cache-Control"), QByteArray("no-store") });
    return response;
}

FakeHttpResponse signedIn(const QUuid& attemptID)
{
    FakeHttpResponse response = FakeHttpResponse::html(200, document(State::signedIn, {}, attemptID));
    response.headers.append({ QByteArray("Cache-Control"), QByteArray("no-store") });
    return response;
}

FakeHttpResponse status(State state)
{
    FakeHttpResponse response = FakeHttpResponse::json(200, QByteArray("{\"Status\":\"") + statusName(state) + "\"}");
    response.headers.append({ QByteArray("Cache-Control"), QByteArray("no-store") });
    return response;
}

} // namespace tessvale::FakeSignInPage
