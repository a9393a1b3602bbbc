#pragma once

#include <memory>

#include <QSettings>

#include "settings/UserDefaults.h"

namespace tessvale {

// The user's standard domain: a QSettings file in the native format of the platform
// ($XDG_CONFIG_HOME/Tessvale/Tessvale.conf on Linux). Every write is flushed at once, so a crash
// loses nothing. The file keeps text, Bools and numbers as plain text, data as @ByteArray and
// dictionaries as serialized variants. A file that cannot be read is moved aside (its name plus the
// date and time) and the domain starts empty; that, and a store that cannot be written, is problem().
class QSettingsUserDefaults final : public UserDefaults
{
public:
    static constexpr const char* organizationName = "Tessvale";
    static constexpr const char* applicationName = "Tessvale";

    QSettingsUserDefaults();
    // A domain in the given file (same format); for tools and tests.
    explicit QSettingsUserDefaults(const QString& fileName);

    QVariant object(const QString& key) const override;
    void setObject(const QString& key, const QVariant& value) override;
    void removeObject(const QString& key) override;
    QStringList keys() const override;

    // The file cannot tell a Bool from the text "true": plain "true"/"false", and numbers that are
    // exactly 0 or 1, read as Bools.
    std::optional<bool> boolean(const QString& key) const override;

    QString problem() const override { return m_problem; }
    void setProblemObserver(std::function<void()> observer) override { m_problemObserver = std::move(observer); }

    QString fileName() const { return m_settings->fileName(); }

private:
    void open(const std::function<std::unique_ptr<QSettings>()>& make);
    void flush(const char* operation, const QString& key);
    void setProblem(const QString& problem);

    std::unique_ptr<QSettings> m_settings;
    QString m_problem;
    std::function<void()> m_problemObserver;
};

} // namespace tessvale
