// The File menu's commands: new, open, close, save, save as, save all and printing.
#pragma once

#include <QObject>

class CChildFrame;
class CMainFrame;

class CDocumentCommands : public QObject {
    Q_OBJECT
public:
    explicit CDocumentCommands(CMainFrame& frame);

    void Run(int id);
    // Saves `child`'s document, asking for a path when `askPath`; false when it was not saved.
    bool SaveDocument(CChildFrame* child, bool askPath);
    // Offers every modified document for saving; false when the user cancelled.
    bool SaveAllModified();

private:
    void OpenFileDialog();

    CMainFrame& m_frame;
};
