#pragma once

#include <functional>

namespace tessvale {

// The desktop's light or dark preference, as the user set it for every application, and its
// changes while the application runs.
class DesktopColorScheme
{
public:
    enum class Preference {
        none,
        dark,
        light,
    };

    virtual ~DesktopColorScheme() = default;

    // The preference as last known; none until (or unless) the desktop says.
    virtual Preference preference() const = 0;
    // onChange runs on the main thread with each new preference; it replaces an earlier handler.
    virtual void watch(std::function<void(Preference)> onChange) = 0;
};

} // namespace tessvale
