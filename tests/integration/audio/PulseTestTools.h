#pragma once

#include <QString>
#include <QStringList>

namespace tessvale::testing {

// True when the private sound server of scripts/test-env answers.
bool soundServerAvailable();
// Runs a program to its end; its trimmed standard output, or a null string on failure.
QString runTool(const QString& program, const QStringList& arguments, int timeoutMs = 15000);
QString temporaryPath(const QString& name);

} // namespace tessvale::testing
