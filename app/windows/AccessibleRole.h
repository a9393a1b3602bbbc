#pragma once

#include <QAccessible>

class QWidget;

namespace tessvale {

// Gives a widget that draws its own text or symbol the role a screen reader announces it by (Qt
// gives a plain widget none it reads); its name and description are the widget's accessible ones.
// Call before anything asks for the widget's accessible interface.
void setAccessibleRole(QWidget* widget, QAccessible::Role role);

} // namespace tessvale
