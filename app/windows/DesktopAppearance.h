#pragma once

#include <memory>

#include <QObject>
#include <QPalette>

#include "platform/system/DesktopColorScheme.h"

namespace tessvale {

// The application's palette follows the desktop's light or dark preference, also while it runs:
// dark gives a dark palette; light or none, the palette the application started with (the platform
// theme's, when one is loaded).
class DesktopAppearance final : public QObject
{
    Q_OBJECT

public:
    explicit DesktopAppearance(std::shared_ptr<DesktopColorScheme> scheme, QObject* parent = nullptr);
    ~DesktopAppearance() override;

    void apply(DesktopColorScheme::Preference preference);
    static QPalette darkPalette();

private:
    std::shared_ptr<DesktopColorScheme> m_scheme;
    QPalette m_startPalette;
    bool m_dark = false;
};

} // namespace tessvale
