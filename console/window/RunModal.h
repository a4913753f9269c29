// How the window runs its modal dialogs unless a test answers them: true when the dialog
// closed with OK.
#pragma once

#include <QDialog>

template <typename Dialog>
bool RunModal(Dialog& dialog) {
    return dialog.exec() == QDialog::Accepted;
}
