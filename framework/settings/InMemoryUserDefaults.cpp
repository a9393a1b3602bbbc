#include "settings/InMemoryUserDefaults.h"

namespace tessvale {

InMemoryUserDefaults::InMemoryUserDefaults(const QVariantMap& initialValues)
    : m_values(initialValues)
{
}

QVariant InMemoryUserDefaults::object(const QString& key) const
{
    return m_values.value(key);
}

void InMemoryUserDefaults::setObject(const QString& key, const QVariant& value)
{
    m_values.insert(key, value);
    ++m_writeCounts[key];
}

void InMemoryUserDefaults::removeObject(const QString& key)
{
    m_values.remove(key);
}

QStringList InMemoryUserDefaults::keys() const
{
    return m_values.keys();
}

void InMemoryUserDefaults::setProblem(const QString& problem)
{
    m_problem = problem;
    if (m_problemObserver)
        m_problemObserver();
}

} // namespace tessvale
