#pragma once

#include <QList>
#include <QString>
#include <QWidget>

class QComboBox;
class QLabel;

namespace tessvale {

// One option of a picker: what it shows and the text value it stands for.
struct PickerOption
{
    QString label;
    QString tag;

    friend bool operator==(const PickerOption&, const PickerOption&) = default;
};

// A title (medium weight) and a subtitle (footnote, secondary) over a pop-up picker, 8 apart; the
// same row in both windows. selectionChosen comes only from the user's choice, never from
// setOptions or setSelection. A selection that no option carries shows no option, and stays the
// caller's value: the row adds no option for it.
class SettingsPickerRow final : public QWidget
{
    Q_OBJECT

public:
    SettingsPickerRow(const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    // Each applies only what differs from what is shown.
    void setOptions(const QList<PickerOption>& options);
    void setSelection(const QString& tag);

    const QList<PickerOption>& options() const { return m_options; }
    QComboBox* picker() const { return m_picker; }

signals:
    void selectionChosen(const QString& tag);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QComboBox* m_picker;
    QList<PickerOption> m_options;
    QString m_selection;
    bool m_focusedByUser = false;
};

} // namespace tessvale
