#pragma once

#include <QAbstractButton>
#include <QString>
#include <QWidget>

class QLabel;

namespace tessvale {

// A sliding on/off switch, for the setup window's preference rows.
class SwitchButton final : public QAbstractButton
{
    Q_OBJECT

public:
    explicit SwitchButton(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A toggle labelled with a title (medium weight) over a subtitle (footnote, secondary), 3 apart.
// The Settings window's row uses the platform's check box in front of the label; the setup window's
// preference row a switch after it. The row writes nothing itself: toggledByUser comes only from a
// click, never from setChecked.
class SettingsToggleRow final : public QWidget
{
    Q_OBJECT

public:
    enum class Style {
        checkBox,
        switchControl,
    };

    SettingsToggleRow(
        const QString& title, const QString& subtitle, Style style = Style::checkBox, QWidget* parent = nullptr);

    // Each applies only a value that differs from the one shown.
    void setChecked(bool checked);
    void setSubtitle(const QString& subtitle);
    bool isChecked() const;

    QAbstractButton* toggle() const { return m_toggle; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* subtitleLabel() const { return m_subtitle; }

signals:
    void toggledByUser(bool checked);

private:
    QAbstractButton* m_toggle;
    QLabel* m_title;
    QLabel* m_subtitle;
};

} // namespace tessvale
