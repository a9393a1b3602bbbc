#include "windows/rows/SettingsValueRow.h"

#include <QHBoxLayout>
#include <QLabel>

#include "windows/rows/RowStyle.h"

namespace tessvale {

SettingsValueRow::SettingsValueRow(const QString& label, const QString& value, int labelWidth, QWidget* parent)
    : QWidget(parent)
    , m_label(plainLabel(label, TextStyle::body, true, this))
    , m_value(plainLabel(value, TextStyle::body, false, this))
{
    m_label->setFixedWidth(labelWidth);
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_value->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_value->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    makeSelectable(m_value);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label, 0, Qt::AlignTop);
    layout->addWidget(m_value, 1, Qt::AlignTop);
}

void SettingsValueRow::setValue(const QString& value)
{
    applyText(m_value, value);
}

QString SettingsValueRow::value() const
{
    return m_value->text();
}

} // namespace tessvale
