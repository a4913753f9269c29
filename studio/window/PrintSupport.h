// Print, Print Preview and Print Setup of the active editor through Qt's print support.
#pragma once

class CSspView;
class QWidget;

class CPrintSupport {
public:
    // Runs command `id` (print, preview or setup) for `view` (nullptr: setup only).
    static void Run(QWidget* parent, int id, CSspView* view);
};
