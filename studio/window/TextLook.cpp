#include "studio/window/TextLook.h"

#include <QFontMetricsF>
#include <QPlainTextEdit>

void SetTabStopCharacters(QPlainTextEdit* edit, int characters) {
    edit->setTabStopDistance(QFontMetricsF(edit->font()).averageCharWidth() * characters);
}

void SetTextColors(QPlainTextEdit* edit, const QColor& text, const QColor& background) {
    QPalette colors = edit->palette();
    colors.setColor(QPalette::Text, text);
    colors.setColor(QPalette::Base, background);
    edit->setPalette(colors);
}
