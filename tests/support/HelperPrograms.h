#pragma once

#include <QString>

namespace tessvale::testing {

// Where the helper program name (a text target, a probe, the application) was built: TESSVALE_BIN_DIR
// when set (CTest sets it), else the folder of the running program, so a test or benchmark started
// by hand finds its helpers too.
QString helperProgramPath(const QString& name);

} // namespace tessvale::testing
