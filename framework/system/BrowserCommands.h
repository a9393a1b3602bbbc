#pragma once

#include <QList>
#include <QString>
#include <QStringList>

namespace tessvale {

// One entry of BROWSER, made ready to start: its words, or why it cannot be started.
struct BrowserCommand
{
    QStringList words;
    QString failure;

    friend bool operator==(const BrowserCommand&, const BrowserCommand&) = default;
};

// The entries of a BROWSER value, in order, as the convention reads them: colon-separated, each
// split into words as a shell would split it (quotes and backslashes, nothing expanded), "%s" in a
// word replaced by the address (else the address appended as the last word) and "%%" by a percent
// sign. Blank entries are skipped.
QList<BrowserCommand> browserCommands(const QString& browserVariable, const QString& address);

} // namespace tessvale
