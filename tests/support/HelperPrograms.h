#pragma once

#include <QByteArray>
#include <QString>

namespace tessvale::testing {

// Where the helper program name (a text target, a probe, the application) was built: TESSVALE_BIN_DIR
// when set (CTest sets it), else the folder of the running program, so a test or benchmark started
// by hand finds its helpers too.
QString helperProgramPath(const QString& name);

// Writes an executable script called name into directory (a stub for a program the code under test
// starts); false when it could not be written.
bool writeScript(const QString& directory, const QString& name, const QByteArray& text);

// Writes an exo-open into directory that acts as XFCE's opener with no web browser installed: web and
// mail addresses fail, others go to the generic xdg-open. xdg-open defers to it on an XFCE session.
bool writeFailingXfceOpener(const QString& directory);

} // namespace tessvale::testing
