#pragma once

#include <QKeySequence>
#include <QList>

class QWidget;

namespace tessvale {

// Closes the window on each of the keys, as the desktop's settings windows close. A shortcut
// recording takes every key before any shortcut sees it, so there Escape only cancels the recording.
void addCloseKeys(QWidget* window, const QList<QKeySequence>& keys);

// Tab reaches a section filled in after the page was built where it stands: before the sections
// shown below it. section is a widget of its parent's box layout.
void putInTabChainAfterTheRest(QWidget* section);

// Gives the focus to the first control under root in the focus chain (text is no control), unless
// the user is already working in root. Whether root has the focus now.
bool focusFirstControl(QWidget* root);

} // namespace tessvale
