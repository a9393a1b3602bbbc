#pragma once

#include <chrono>

#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace tessvale::testing {

// The private desktop's keyring as a user meets it: its login collection locked and unlocked, and the
// real unlock prompt (gcr-prompter on the test display) answered or dismissed with keys.

// What scripts/test-env unlocks the login keyring with.
inline const QString kKeyringPassword = QStringLiteral("test");

// Runs a command line tool to its end while the event loop keeps running; its standard output.
QString runTool(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment = {});
QString busCall(
    const QString& destination, const QString& objectPath, const QString& method, const QStringList& arguments);
QString secretServiceCall(const QString& objectPath, const QString& method, const QStringList& arguments);
// The bus name of the running keyring daemon: a new one after a restart.
QString keyringOwner();

// The object path of the default collection.
QString defaultCollection();
void lockCollection(const QString& collection);
bool isCollectionLocked(const QString& collection);

// The prompt's window, once it is shown; empty when none appeared in time.
QString promptWindow(std::chrono::milliseconds timeout = std::chrono::seconds(10));
// Runs each xdotool command on the prompt, then waits for the prompt to close.
void answerPrompt(const QList<QStringList>& commands);
void dismissPrompt();
void unlockAtPrompt();

} // namespace tessvale::testing
