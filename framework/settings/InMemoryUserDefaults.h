#pragma once

#include <QMap>

#include "settings/UserDefaults.h"

namespace tessvale {

// A domain that lives only as long as the object: keeps every value with its exact kind.
class InMemoryUserDefaults final : public UserDefaults
{
public:
    InMemoryUserDefaults() = default;
    explicit InMemoryUserDefaults(const QVariantMap& initialValues);

    QVariant object(const QString& key) const override;
    void setObject(const QString& key, const QVariant& value) override;
    void removeObject(const QString& key) override;
    QStringList keys() const override;
    QString problem() const override { return m_problem; }
    void setProblemObserver(std::function<void()> observer) override { m_problemObserver = std::move(observer); }

    // As a store on disk reports one, for tests.
    void setProblem(const QString& problem);

    // How many writes each key has seen, for tests that count write-backs.
    int writeCount(const QString& key) const { return m_writeCounts.value(key); }

private:
    QVariantMap m_values;
    QMap<QString, int> m_writeCounts;
    QString m_problem;
    std::function<void()> m_problemObserver;
};

} // namespace tessvale
