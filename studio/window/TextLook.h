// The look the main window gives its text panes and editors: tab stops in characters and
// the text and background colours.
#pragma once

#include <QColor>

class QPlainTextEdit;

// Tab stops of `characters` average character widths of the edit's font.
void SetTabStopCharacters(QPlainTextEdit* edit, int characters);
void SetTextColors(QPlainTextEdit* edit, const QColor& text, const QColor& background);
