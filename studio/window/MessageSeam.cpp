#include "studio/window/MessageSeam.h"

#include <utility>

namespace {

CMessageSeam::Handler& CurrentHandler() {
    static CMessageSeam::Handler handler;
    return handler;
}

}  // namespace

QMessageBox::StandardButton CMessageSeam::Show(QWidget* parent, const QString& text,
                                               QMessageBox::StandardButtons buttons) {
    if (CurrentHandler()) {
        return CurrentHandler()(text, buttons);
    }
    QMessageBox box(QMessageBox::Information, QStringLiteral("Velmorin Studio"), text, buttons,
                    parent);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

CMessageSeam::Handler CMessageSeam::SetHandler(Handler handler) {
    return std::exchange(CurrentHandler(), std::move(handler));
}
