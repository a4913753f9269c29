#include "studio/window/PrintSupport.h"

#include <QPageSetupDialog>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>

#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"

namespace {

// The setup chosen last, kept for the next print.
QPrinter& Printer() {
    static QPrinter printer(QPrinter::HighResolution);
    return printer;
}

}  // namespace

void CPrintSupport::Run(QWidget* parent, int id, CSspView* view) {
    if (id == kCmdPrintSetup) {
        QPageSetupDialog(&Printer(), parent).exec();
        return;
    }
    if (!view) {
        return;
    }
    if (id == kCmdPrint) {
        QPrintDialog dialog(&Printer(), parent);
        if (dialog.exec() == QDialog::Accepted) {
            view->print(&Printer());
        }
    } else if (id == kCmdPrintPreview) {
        QPrintPreviewDialog preview(&Printer(), parent);
        QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, view,
                         [view](QPrinter* printer) { view->print(printer); });
        preview.exec();
    }
}
