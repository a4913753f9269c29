#include "studio/window/DocumentCommands.h"

#include <QApplication>
#include <QFileDialog>
#include <QMdiArea>
#include <QMdiSubWindow>

#include "studio/window/ChildFrame.h"
#include "studio/window/FileTreeCtrl.h"
#include "studio/window/MainFrame.h"
#include "studio/window/MessageSeam.h"
#include "studio/window/PrintSupport.h"
#include "studio/window/SspDoc.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/WorkspaceBar.h"

CDocumentCommands::CDocumentCommands(CMainFrame& frame) : QObject(&frame), m_frame(frame) {}

void CDocumentCommands::Run(int id) {
    CChildFrame* child = m_frame.ActiveChild();
    switch (id) {
        case kCmdNew:
            m_frame.NewDocument();
            break;
        case kCmdOpen:
            OpenFileDialog();
            break;
        case kCmdClose:
            if (child && (!child->Doc()->IsModified() || SaveDocument(child, false))) {
                m_frame.MdiArea()->activeSubWindow()->close();
            }
            break;
        case kCmdSave:
        case kCmdSaveAs:
            if (child) {
                SaveDocument(child, id == kCmdSaveAs || child->Doc()->Path().isEmpty());
            }
            break;
        case kCmdSaveAll:
            SaveAllModified();
            break;
        default:
            CPrintSupport::Run(&m_frame, id, m_frame.ActiveView());
            break;
    }
}

void CDocumentCommands::OpenFileDialog() {
    QString start = m_frame.Workspace()->Tree()->SelectedFilePath();
    if (start.isEmpty()) {
        start = m_frame.Workspace()->Tree()->SelectedFolderPath();
    }
    QFileDialog dialog(&m_frame, QStringLiteral("Open"), start);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(
        {QStringLiteral("Velmorin Server Files (.zrp;.zrs;.html) (*.zrp *.zrs *.html)"),
         QStringLiteral("All Files (*.*) (*)")});
    dialog.setDefaultSuffix(QStringLiteral("zrp"));
    if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        m_frame.OpenDocument(dialog.selectedFiles().front());
    }
}

bool CDocumentCommands::SaveDocument(CChildFrame* child, bool askPath) {
    QString path = child->Doc()->Path();
    if (askPath) {
        QFileDialog dialog(&m_frame, QStringLiteral("Save As"), path);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setNameFilters(
            {QStringLiteral("Velmorin Server Files (.zrp;.zrs;.html;.css;.sql;.txt) "
                            "(*.zrp *.zrs *.html *.css *.sql *.txt)"),
             QStringLiteral("All Files (*.*) (*)")});
        dialog.setDefaultSuffix(QStringLiteral("zrp"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return false;
        }
        path = dialog.selectedFiles().front();
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString error;
    const bool saved = child->Doc()->Save(path, error);
    QApplication::restoreOverrideCursor();
    if (!saved) {
        CMessageSeam::Show(&m_frame, QStringLiteral("Failed to save %1: %2").arg(path, error));
        return false;
    }
    child->UpdateTitle();
    if (askPath) {
        m_frame.AddRecentFile(path);
    }
    return true;
}

bool CDocumentCommands::SaveAllModified() {
    for (CChildFrame* child : m_frame.Children()) {
        if (!child->Doc()->IsModified()) {
            continue;
        }
        const QMessageBox::StandardButton answer = CMessageSeam::Show(
            &m_frame, QStringLiteral("Save changes to %1?").arg(child->Doc()->Title()),
            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Cancel) {
            return false;
        }
        if (answer == QMessageBox::Yes && !SaveDocument(child, child->Doc()->Path().isEmpty())) {
            return false;
        }
    }
    return true;
}
