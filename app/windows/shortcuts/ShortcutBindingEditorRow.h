#pragma once

#include <functional>
#include <optional>

#include <QPointer>
#include <QString>
#include <QWidget>

#include "settings/DictationShortcutRole.h"
#include "settings/ShortcutBinding.h"
#include "windows/shortcuts/ShortcutCaptureSession.h"
#include "windows/shortcuts/ShortcutEditorModel.h"

class QLabel;
class QPushButton;

namespace tessvale {

class ShortcutEngineSuspension;

// One shortcut with its record button. While it records, the global shortcut engine is suspended
// and a capture session takes the keyboard; a captured binding the settings store would refuse is
// not handed on: the row says why under itself and keeps showing the binding that stands. Only one
// row in the application records at a time; the recording ends when the row or its window goes
// away, is hidden or minimised, or the window loses activation.
class ShortcutBindingEditorRow final : public QWidget
{
    Q_OBJECT

public:
    using ChangeHandler = std::function<void(const ShortcutBinding&)>;

    ShortcutBindingEditorRow(const QString& title, const QString& subtitle, const ShortcutBinding& binding,
        DictationShortcutRole role, ChangeHandler onChange, ShortcutEngineSuspension* suspension = nullptr,
        QWidget* parent = nullptr);
    ~ShortcutBindingEditorRow() override;

    DictationShortcutRole role() const { return m_role; }
    const ShortcutBinding& binding() const { return m_binding; }
    void setSubtitle(const QString& subtitle);
    void setBinding(const ShortcutBinding& binding);

    // The record button's action.
    void toggleShortcutRecording();
    void stopRecording();

    bool isRecording() const { return m_isRecording; }
    ShortcutCaptureSession* captureSession() const { return m_captureSession; }
    const std::optional<QString>& refusal() const { return m_refusal; }
    ShortcutRowModel model() const;
    // The row recording now, in any window; null when none is.
    static ShortcutBindingEditorRow* recordingRow();

    QLabel* titleLabel() const { return m_titleLabel; }
    QLabel* subtitleLabel() const { return m_subtitleLabel; }
    QLabel* bindingLabel() const { return m_bindingLabel; }
    QPushButton* recordButton() const { return m_recordButton; }
    QLabel* hintLabel() const { return m_hintLabel; }
    QLabel* refusalLabel() const { return m_refusalLabel; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void captured(const ShortcutBinding& binding);
    void applyModel();

    QString m_title;
    QString m_subtitle;
    ShortcutBinding m_binding;
    DictationShortcutRole m_role;
    ChangeHandler m_onChange;
    ShortcutEngineSuspension* m_suspension;
    bool m_isRecording = false;
    QPointer<ShortcutCaptureSession> m_captureSession;
    std::optional<QString> m_refusal;
    // The window watched while recording.
    QPointer<QWidget> m_watchedWindow;

    QLabel* m_titleLabel;
    QLabel* m_subtitleLabel;
    QLabel* m_bindingLabel;
    QPushButton* m_recordButton;
    QLabel* m_hintLabel;
    QLabel* m_refusalLabel;
};

} // namespace tessvale
