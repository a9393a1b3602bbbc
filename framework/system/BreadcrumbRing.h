#pragma once

#include <deque>

#include <QList>

#include "system/SentryEvent.h"

namespace tessvale {

// The latest breadcrumbs, oldest first; adding beyond the capacity drops the oldest. Not locked:
// its owner serializes access.
class BreadcrumbRing
{
public:
    static constexpr int defaultCapacity = 100;

    explicit BreadcrumbRing(int capacity = defaultCapacity);

    void add(Breadcrumb breadcrumb);
    QList<Breadcrumb> snapshot() const;
    int size() const { return static_cast<int>(m_items.size()); }
    int capacity() const { return m_capacity; }

private:
    int m_capacity;
    std::deque<Breadcrumb> m_items;
};

} // namespace tessvale
