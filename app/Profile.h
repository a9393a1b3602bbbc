#pragma once

#include <optional>

#include <QString>
#include <QStringList>

namespace tessvale {

// A profile keeps its own API key (keychain service name) and its own settings file, so the local demo
// service's account and a real one never meet: a later run against a real service never finds the
// demo's key. TESSVALE_PROFILE names the profile ("demo" for scripts/run's demo service); unset or empty
// is the user's own. A name is letters, digits, "-" and "_", at most 32; any other is ignored (with a
// warning) and the user's own profile is used.
inline constexpr const char* profileVariable = "TESSVALE_PROFILE";

// The profile of this run; empty for the user's own.
QString profileName();

// The keychain service of the running profile: the keychain's usual name (from the bundle identifier),
// followed by ".<profile>" for a named profile.
QString keychainServiceName(const std::optional<QString>& bundleIdentifier);

// What a later start needs in its environment to run this profile (NAME=VALUE); none for the user's own.
QStringList launchEnvironment();

// The settings file of the running profile: the usual Tessvale.conf, or Tessvale-<profile>.conf beside it.
QString settingsFile();

} // namespace tessvale
