#include "windows/shortcuts/ShortcutBindingEditorRow.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>

#include "windows/rows/RowStyle.h"
#include "windows/shortcuts/ShortcutCaptureSession.h"
#include "wiring/ShortcutEngineSuspension.h"

namespace tessvale {

namespace {

QPointer<ShortcutBindingEditorRow> s_recordingRow;

// The capsule behind the binding's label, from the palette so a dark theme keeps its contrast.
QString capsuleStyle(const QPalette& palette)
{
    QColor fill = palette.color(QPalette::WindowText);
    fill.setAlphaF(0.08);
    return QStringLiteral("QLabel { background: rgba(%1, %2, %3, %4); border-radius: 12px; padding: 6px 10px; }")
        .arg(fill.red())
        .arg(fill.green())
        .arg(fill.blue())
        .arg(fill.alphaF());
}

QFont calloutSemibold(const QFont& base)
{
    return scaledFont(base, 12.0 / 13.0, QFont::DemiBold);
}

void setTextIfChanged(QLabel* label, const QString& text)
{
    if (label->text() != text)
        label->setText(text);
}

void setShownIfChanged(QWidget* widget, bool shown)
{
    if (widget->isVisibleTo(widget->parentWidget()) != shown)
        widget->setVisible(shown);
}

} // namespace

ShortcutBindingEditorRow::ShortcutBindingEditorRow(const QString& title, const QString& subtitle,
    const ShortcutBinding& binding, DictationShortcutRole role, ChangeHandler onChange,
    ShortcutEngineSuspension* suspension, QWidget* parent)
    : QWidget(parent)
    , m_title(title)
    , m_subtitle(subtitle)
    , m_binding(binding)
    , m_role(role)
    , m_onChange(std::move(onChange))
    , m_suspension(suspension)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    auto* top = new QHBoxLayout;
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    m_titleLabel = plainLabel(QString(), TextStyle::bodyMedium, false, this);
    m_subtitleLabel = plainLabel(QString(), TextStyle::footnote, true, this);
    texts->addWidget(m_titleLabel);
    texts->addWidget(m_subtitleLabel);
    top->addLayout(texts, 1);
    m_bindingLabel = plainLabel(QString(), TextStyle::bodySemibold, false, this);
    m_bindingLabel->setWordWrap(false);
    m_bindingLabel->setFont(calloutSemibold(font()));
    m_bindingLabel->setStyleSheet(capsuleStyle(palette()));
    top->addWidget(m_bindingLabel, 0, Qt::AlignVCenter);
    layout->addLayout(top);

    auto* bottom = new QHBoxLayout;
    bottom->setSpacing(10);
    m_recordButton = new QPushButton(this);
    m_recordButton->setProperty("prominent", false);
    m_recordButton->setAutoDefault(false);
    // The hint beside it takes the room it needs from the stretch, never from the button.
    m_recordButton->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    connect(m_recordButton, &QPushButton::clicked, this, &ShortcutBindingEditorRow::toggleShortcutRecording);
    bottom->addWidget(m_recordButton, 0, Qt::AlignLeft | Qt::AlignVCenter);
    m_hintLabel = plainLabel(QString(), TextStyle::footnote, true, this);
    m_hintLabel->hide();
    bottom->addWidget(m_hintLabel, 1, Qt::AlignVCenter);
    layout->addLayout(bottom);

    m_refusalLabel = plainLabel(QString(), TextStyle::footnote, false, this);
    QPalette refusalPalette = m_refusalLabel->palette();
    refusalPalette.setColor(QPalette::WindowText, QColor(0xe5, 0x48, 0x4d));
    m_refusalLabel->setPalette(refusalPalette);
    m_refusalLabel->hide();
    layout->addWidget(m_refusalLabel);

    applyModel();
}

ShortcutBindingEditorRow::~ShortcutBindingEditorRow()
{
    // A row that goes while recording gives the keyboard back to the engine.
    stopRecording();
}

ShortcutBindingEditorRow* ShortcutBindingEditorRow::recordingRow()
{
    return s_recordingRow.data();
}

void ShortcutBindingEditorRow::setSubtitle(const QString& subtitle)
{
    m_subtitle = subtitle;
    applyModel();
}

void ShortcutBindingEditorRow::setBinding(const ShortcutBinding& binding)
{
    m_binding = binding;
    applyModel();
}

ShortcutRowModel ShortcutBindingEditorRow::model() const
{
    return shortcutRowModel(m_role, m_title, m_subtitle, m_binding, { m_isRecording, m_refusal });
}

void ShortcutBindingEditorRow::toggleShortcutRecording()
{
    if (m_isRecording) {
        stopRecording();
        return;
    }
    stopRecording();
    m_refusal.reset();
    // Suspended before another row lets go, so the engine does not start in between.
    if (m_suspension)
        m_suspension->suspend();
    if (ShortcutBindingEditorRow* other = s_recordingRow.data(); other && other != this)
        other->stopRecording();
    s_recordingRow = this;
    m_isRecording = true;

    QPointer<ShortcutBindingEditorRow> row(this);
    m_captureSession = new ShortcutCaptureSession(
        m_role,
        [row](const ShortcutBinding& binding) {
            if (row)
                row->captured(binding);
        },
        [row] {
            if (row)
                row->stopRecording();
        },
        m_suspension ? m_suspension->keyCodes() : nullptr, this);
    m_captureSession->startCapture();

    m_watchedWindow = window();
    if (m_watchedWindow && m_watchedWindow != this)
        m_watchedWindow->installEventFilter(this);
    applyModel();
}

void ShortcutBindingEditorRow::stopRecording()
{
    if (m_captureSession) {
        m_captureSession->stopCapture();
        // Later: this may run inside the session's own event filter.
        m_captureSession->deleteLater();
        m_captureSession = nullptr;
    }
    if (m_watchedWindow) {
        m_watchedWindow->removeEventFilter(this);
        m_watchedWindow = nullptr;
    }
    const bool wasRecording = m_isRecording;
    m_isRecording = false;
    if (s_recordingRow == this)
        s_recordingRow = nullptr;
    if (wasRecording && m_suspension)
        m_suspension->resume();
    applyModel();
}

void ShortcutBindingEditorRow::captured(const ShortcutBinding& binding)
{
    const CaptureDecision decision = decideCapture(m_role, binding);
    m_refusal = decision.refusal;
    stopRecording();
    if (decision.accepted && m_onChange)
        m_onChange(*decision.accepted);
}

bool ShortcutBindingEditorRow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_watchedWindow && m_isRecording) {
        switch (event->type()) {
        case QEvent::WindowDeactivate:
            // Keys still held while the window loses the keyboard: the desktop took their combination,
            // named as it was pressed, also when its key is up again by now.
            if (m_captureSession && !m_captureSession->currentModifiers().isEmpty()) {
                ShortcutModifiers modifiers = m_captureSession->currentModifiers();
                std::optional<quint16> key = m_captureSession->heldOtherKey();
                const std::optional<ModifiedKeyPress> pressed
                    = m_suspension ? m_suspension->lastModifiedKeyPress() : std::nullopt;
                if (pressed && modifiers.contains(pressed->modifiers)) {
                    modifiers = pressed->modifiers;
                    key = pressed->keyCode;
                }
                m_refusal = desktopCombinationRefusal(modifiers, key);
            }
            stopRecording();
            break;
        case QEvent::Hide:
        case QEvent::Close:
            stopRecording();
            break;
        case QEvent::WindowStateChange:
            if (m_watchedWindow->isMinimized())
                stopRecording();
            break;
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ShortcutBindingEditorRow::hideEvent(QHideEvent* event)
{
    stopRecording();
    QWidget::hideEvent(event);
}

void ShortcutBindingEditorRow::applyModel()
{
    const ShortcutRowModel m = model();
    setTextIfChanged(m_titleLabel, m.title);
    setTextIfChanged(m_subtitleLabel, m.subtitle);
    setTextIfChanged(m_bindingLabel, m.bindingLabel);
    const QString buttonText = escapedMnemonic(m.recordButtonTitle);
    if (m_recordButton->text() != buttonText)
        m_recordButton->setText(buttonText);
    setTextIfChanged(m_hintLabel, m.hint.value_or(QString()));
    setShownIfChanged(m_hintLabel, m.hint.has_value());
    setTextIfChanged(m_refusalLabel, m.refusal.value_or(QString()));
    setShownIfChanged(m_refusalLabel, m.refusal.has_value());
}

} // namespace tessvale
