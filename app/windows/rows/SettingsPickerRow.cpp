#include "windows/rows/SettingsPickerRow.h"

#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QSignalBlocker>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QVBoxLayout>

#include "windows/rows/RowStyle.h"

namespace tessvale {

namespace {

// A picker of a fixed width whose long choice ends in an ellipsis (the whole of it is the tooltip):
// the style would cut it wherever the field ends.
class ElidingComboBox final : public QComboBox
{
public:
    explicit ElidingComboBox(QWidget* parent)
        : QComboBox(parent)
    {
        setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        setMinimumContentsLength(kShownCharacters);
        connect(this, &QComboBox::currentTextChanged, this, [this](const QString& text) { setToolTip(text); });
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionComboBox option;
        initStyleOption(&option);
        painter.drawComplexControl(QStyle::CC_ComboBox, option);
        const QRect field = style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
        const int iconRoom = option.currentIcon.isNull() ? 0 : option.iconSize.width() + 4;
        option.currentText = fontMetrics().elidedText(option.currentText, Qt::ElideRight, field.width() - iconRoom - 2);
        painter.drawControl(QStyle::CE_ComboBoxLabel, option);
    }

private:
    static constexpr int kShownCharacters = 30;
};

} // namespace

SettingsPickerRow::SettingsPickerRow(const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
    , m_picker(new ElidingComboBox(this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    layout->addWidget(plainLabel(title, TextStyle::bodyMedium, false, this));
    layout->addWidget(plainLabel(subtitle, TextStyle::footnote, true, this));
    // The picker's own label is hidden; its title stays its accessible name.
    m_picker->setAccessibleName(title);
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
    // Focus the window gave on opening is not the user's choice of the picker.
    if (watched == m_picker && event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        m_focusedByUser = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason
            || reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason || reason == Qt::PopupFocusReason;
    } else if (watched == m_picker && event->type() == QEvent::FocusOut) {
        m_focusedByUser = false;
    }
    if (watched == m_picker && event->type() == QEvent::Wheel && !(m_picker->hasFocus() && m_focusedByUser)) {
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
