// Every message box of the studio goes through here, so that tests can answer them.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

class CMessageSeam {
public:
    using Handler = std::function<QMessageBox::StandardButton(
        const QString& text, QMessageBox::StandardButtons buttons)>;

    // Shows `text` under the title "Velmorin Studio" and returns the button chosen.
    static QMessageBox::StandardButton Show(QWidget* parent, const QString& text,
                                            QMessageBox::StandardButtons buttons = QMessageBox::Ok);
    // Puts `handler` in place of the real box and returns the one it replaced; an empty
    // handler puts the real box back.
    static Handler SetHandler(Handler handler);
};
