#include "windows/AccessibleRole.h"

#include <QAccessibleWidget>
#include <QVariant>
#include <QWidget>

namespace tessvale {

namespace {

constexpr const char* kRoleProperty = "tessvaleAccessibleRole";

QAccessibleInterface* interfaceWithRole(const QString& className, QObject* object)
{
    // Asked once per class from the most derived up; the plain widget's turn is the one to take.
    if (className != QLatin1String("QWidget") || !object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Role(role.toInt()));
}

} // namespace

void setAccessibleRole(QWidget* widget, QAccessible::Role role)
{
    static const bool installed = [] {
        QAccessible::installFactory(interfaceWithRole);
        return true;
    }();
    Q_UNUSED(installed);
    widget->setProperty(kRoleProperty, int(role));
}

} // namespace tessvale
