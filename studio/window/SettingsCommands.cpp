#include "studio/window/SettingsCommands.h"

#include <QFontDialog>

#include "studio/DebugController.h"
#include "studio/window/DebuggerOptionsDlg.h"
#include "studio/window/FileTreeCtrl.h"
#include "studio/window/FolderOptionsDlg.h"
#include "studio/window/MainFrame.h"
#include "studio/window/SetColorDlg.h"
#include "studio/window/SetTabStops.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/WorkspaceBar.h"

CSettingsCommands::CSettingsCommands(CMainFrame& frame, CStudioProfile& profile)
    : QObject(&frame), m_frame(frame), m_profile(profile) {}

void CSettingsCommands::Run(int id) {
    switch (id) {
        case kCmdFolderOptions:
            FolderOptions();
            break;
        case kCmdDebuggerOptions: {
            CDebuggerOptionsDlg dialog(QString::fromStdString(theDebugger.GetPort()),
                                       theDebugger.IsSsl(), &m_frame);
            if (dialog.exec() == QDialog::Accepted) {
                theDebugger.SetPort(dialog.Port().toStdString());
                theDebugger.SetSsl(dialog.IsSsl());
            }
            break;
        }
        case kCmdSetFont: {
            bool ok = false;
            const QFont font = QFontDialog::getFont(&ok, m_profile.Font(), &m_frame);
            if (ok) {
                m_profile.SetFont(font);
                m_frame.ApplyLookEverywhere();
            }
            break;
        }
        case kCmdSetTabStops: {
            CSetTabStops dialog(m_profile.m_tabStops, &m_frame);
            if (dialog.exec() == QDialog::Accepted) {
                m_profile.m_tabStops = dialog.TabStops();
                m_frame.ApplyLookEverywhere();
            }
            break;
        }
        case kCmdSetColor: {
            CSetColorDlg dialog(m_profile.m_textColor, m_profile.m_bkColor, &m_frame);
            if (dialog.exec() == QDialog::Accepted) {
                m_profile.m_textColor = dialog.TextIndex();
                m_profile.m_bkColor = dialog.BackgroundIndex();
                m_frame.ApplyLookEverywhere();
            }
            break;
        }
        default:
            break;
    }
}

void CSettingsCommands::FolderOptions() {
    CFolderOptionsDlg dialog(m_frame.RootPath(), m_profile.m_fileFilter, &m_frame);
    if (dialog.exec() != QDialog::Accepted) {
        return;
    }
    QString root = dialog.Root().trimmed();
    while (root.size() > 1 && root.endsWith(QLatin1Char('/'))) {
        root.chop(1);
    }
    m_frame.SetRootPath(root.isEmpty() ? m_frame.ProgramRoot() : root);
    m_profile.m_rootPath = root;
    QString filter = dialog.Filter().trimmed();
    if (filter.isEmpty()) {
        filter = QString::fromLatin1(CStudioProfile::kDefaultFilter);
    }
    CFileTreeCtrl* tree = m_frame.Workspace()->Tree();
    tree->SetFilter(filter);
    tree->Fill(m_frame.RootPath());
    m_profile.m_fileFilter = tree->FilterText();
}
