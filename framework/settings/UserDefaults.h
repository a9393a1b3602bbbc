#pragma once

#include <functional>
#include <optional>

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

namespace tessvale {

// A user-defaults domain: a flat map from key to a property-list value (text, number, Bool, data,
// dictionary, list). The typed readers never fail; a value of another kind reads as nothing.
class UserDefaults
{
public:
    virtual ~UserDefaults() = default;

    // The stored value as it is, or an invalid QVariant when the key is absent.
    virtual QVariant object(const QString& key) const = 0;
    virtual void setObject(const QString& key, const QVariant& value) = 0;
    virtual void removeObject(const QString& key) = 0;
    virtual QStringList keys() const = 0;

    // Why the user's changes may not be kept, in words for the user (empty when they are): a file
    // set aside as unreadable, a store that cannot be written.
    virtual QString problem() const { return {}; }
    // Called when problem() changes.
    virtual void setProblemObserver(std::function<void()> observer) { Q_UNUSED(observer); }

    // Text, or a stored number as its text.
    virtual std::optional<QString> string(const QString& key) const;
    // A Bool, or a number that is exactly 0 or 1.
    virtual std::optional<bool> boolean(const QString& key) const;
    virtual std::optional<QByteArray> data(const QString& key) const;
    virtual std::optional<QVariantMap> dictionary(const QString& key) const;

    void setString(const QString& key, const QString& value) { setObject(key, value); }
    void setBool(const QString& key, bool value) { setObject(key, value); }
    void setData(const QString& key, const QByteArray& value) { setObject(key, value); }
    void setDictionary(const QString& key, const QVariantMap& value) { setObject(key, value); }
};

} // namespace tessvale
