#include "system/BreadcrumbRing.h"

#include <algorithm>

namespace tessvale {

BreadcrumbRing::BreadcrumbRing(int capacity)
    : m_capacity(std::max(capacity, 0))
{
}

void BreadcrumbRing::add(Breadcrumb breadcrumb)
{
    if (m_capacity == 0)
        return;
    while (static_cast<int>(m_items.size()) >= m_capacity)
        m_items.pop_front();
    m_items.push_back(std::move(breadcrumb));
}

QList<Breadcrumb> BreadcrumbRing::snapshot() const
{
    return QList<Breadcrumb>(m_items.begin(), m_items.end());
}

} // namespace tessvale
