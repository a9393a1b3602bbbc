#pragma once

#include <chrono>

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

namespace tessvale {

using FakeHeaders = QList<QPair<QByteArray, QByteArray>>;

// One request as the fake service received it.
struct FakeHttpRequest
{
    QByteArray method;
    // The request target exactly as sent ("/client/v1/update/macos?currentVersion=1.2.0").
    QByteArray target;
    // The decoded path and query of the target.
    QString path;
    QUrlQuery query;
    FakeHeaders headers;
    QByteArray body;
    // Over TLS; false for the plain-HTTP sign-in page.
    bool encrypted = false;

    // Header names compare case-insensitively; the first matching header wins.
    bool hasHeader(const QByteArray& name) const;
    QByteArray header(const QByteArray& name) const;
    int headerCount(const QByteArray& name) const;
};

// What the fake answers to one request.
struct FakeHttpResponse
{
    enum class Behaviour {
        respond,
        // Reads the request and then never answers, keeping the connection open.
        hang,
        // Closes the TCP connection without an answer.
        drop,
        // Sends the head and half the body, then closes the connection.
        dropMidBody,
        // Sends the head and half the body, then nothing more, keeping the connection open.
        stallMidBody,
    };

    int statusCode = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    FakeHeaders headers;
    std::chrono::milliseconds delay { 0 };
    Behaviour behaviour = Behaviour::respond;

    static FakeHttpResponse json(int statusCode, const QByteArray& body);
    static FakeHttpResponse text(int statusCode, const QByteArray& body);
    static FakeHttpResponse redirect(int statusCode, const QUrl& location);
    static FakeHttpResponse html(int statusCode, const QByteArray& body);
    static FakeHttpResponse hang();
    static FakeHttpResponse drop();
    // A 200 answer with body that ends (or stalls) halfway through it.
    static FakeHttpResponse cutMidBody(Behaviour behaviour, const QByteArray& body);

    QByteArray serialized() const;
    // What goes on the wire: all of serialized(), or up to half the body for the mid-body behaviours.
    QByteArray sentBytes() const;
};

} // namespace tessvale
