#include "windows/rows/SettingsPickerRow.h"

#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

SettingsPickerRow::SettingsPickerRow(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_picker(new QComboBox(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(plainLabel(title, TextStyle::bodyMedium, false, this));
    layout->addWidget(plainLabel(subtitle, TextStyle::footnote, true, this));
    // The picker's own label is hidden; its title stays its accessible name.
    m_picker->setAccessibleName(title);
    m_picker->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    m_picker->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    // A wheel passing over the picker on its way down the page must not choose a microphone: the
    // picker takes the wheel only once the user has given it the focus, else the page scrolls.
    m_picker->setFocusPolicy(Qt::StrongFocus);
    m_picker->installEventFilter(this);
    layout->addWidget(m_picker, 0, Qt::AlignLeft);
    connect(m_picker, &QComboBox::activated, this, [this](int index) {
        if (index >= 0 && index < m_options.size())
            emit selectionChosen(m_options.at(index).tag);
    });
}

bool SettingsPickerRow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_picker && event->type() == QEvent::Wheel && !m_picker->hasFocus()) {
        // Ignored, it goes on to the parents: the scroll area scrolls.
        event->ignore();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void SettingsPickerRow::setOptions(const QList<PickerOption>& options)
{
    if (options == m_options)
        return;
    const QSignalBlocker blocker(m_picker);
    m_options = options;
    m_picker->clear();
    for (const PickerOption& option : options)
        m_picker->addItem(option.label, option.tag);
    m_picker->setCurrentIndex(m_picker->findData(m_selection));
}

void SettingsPickerRow::setSelection(const QString& tag)
{
    m_selection = tag;
    const int index = m_picker->findData(tag);
    if (m_picker->currentIndex() == index)
        return;
    const QSignalBlocker blocker(m_picker);
    m_picker->setCurrentIndex(index);
}

} // namespace tessvale
