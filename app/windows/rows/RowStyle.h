#pragma once

#include <QFont>
#include <QLabel>
#include <QString>

namespace tessvale {

// The text styles of the settings and setup windows, scaled from the application font so that the
// desktop's font size carries through; body is the application font itself.
enum class TextStyle {
    body,
    bodyMedium,
    bodySemibold,
    title3Semibold,
    subheadline,
    subheadlineSemibold,
    footnote,
    caption,
    captionSemibold,
};

QFont styledFont(TextStyle style, const QFont& base);
// base at ratio times its size and the given weight; a smaller size stops at the smallest readable one.
QFont scaledFont(const QFont& base, double ratio, QFont::Weight weight);

// A label for text from anywhere (the service, the user, another application): never markup, never
// a link. secondary draws it in the palette's subdued text colour, so a dark theme stays readable.
QLabel* plainLabel(const QString& text, TextStyle style, bool secondary, QWidget* parent = nullptr);
// Marks a label's text as selectable and copyable by the user.
void makeSelectable(QLabel* label);
// Sets the text only when it differs, so a selection in progress survives a refresh.
void applyText(QLabel* label, const QString& text);

// The push buttons of both windows: those whose "prominent" property is true are filled with the
// palette's highlight, so they follow a dark theme too; false ones are bordered; both show the
// keyboard focus.
QString pushButtonStyleSheet();

// Some desktop themes (Qt's own for a dark KDE scheme) leave the subdued text colour at its light
// default, unreadable on a dark window: there it becomes the window text at a lower opacity, for the
// whole application. Called by whatever builds one of our windows; changes nothing on a readable palette.
void ensureReadableSecondaryText();

// "&" doubled, so a button or action text shows it instead of taking a mnemonic.
QString escapedMnemonic(QString text);

} // namespace tessvale
