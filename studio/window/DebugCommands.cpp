#include "studio/window/DebugCommands.h"

#include <QTextBlock>

#include "engine/script/DesktopOpener.h"
#include "engine/settings/ServerSettings.h"
#include "studio/DebugController.h"
#include "studio/window/BreakpointsDlg.h"
#include "studio/window/BrowsePage.h"
#include "studio/window/ChildFrame.h"
#include "studio/window/DocumentCommands.h"
#include "studio/window/MainFrame.h"
#include "studio/window/MessageSeam.h"
#include "studio/window/OutputBar.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/QuickWatchDlg.h"
#include "studio/window/SspDoc.h"
#include "studio/window/SspView.h"
#include "studio/window/StudioCommands.h"
#include "studio/window/VarListCtrl.h"
#include "studio/window/WatchVarDlg.h"

CDebugCommands::CDebugCommands(CMainFrame& frame, CServerSettings& settings)
    : QObject(&frame), m_frame(frame), m_settings(settings) {}

void CDebugCommands::StartStep() {
    m_frame.Documents()->SaveAllModified();
    m_frame.Output()->DebugEdit()->ClearOutput();
    m_frame.Output()->TrafficEdit()->ClearOutput();
    m_frame.Output()->ShowTab(COutputBar::kDebugTab);
}

void CDebugCommands::Run(int id) {
    CSspView* view = m_frame.ActiveView();
    const std::string path = view ? view->Doc()->Path().toStdString() : std::string();
    switch (id) {
        case kCmdStartContinue:
            if (theDebugger.IsIdle()) {
                StartStep();
            }
            theDebugger.StartOrContinue(
                view && view->Doc()->Extension() == QLatin1String("zrs") ? path : std::string());
            break;
        case kCmdSingleStep:
            if (theDebugger.IsIdle()) {
                StartStep();
            }
            theDebugger.SingleStep(path);
            break;
        case kCmdStepOut:
            theDebugger.StepOut();
            break;
        case kCmdStop:
            theDebugger.Stop(true);
            break;
        case kCmdBreak:
            theDebugger.Break();
            break;
        case kCmdBrowse:
            BrowseStep();
            break;
        case kCmdToggleBreakpoint:
            ToggleBreakpoint();
            break;
        case kCmdBreakpoints:
            ShowBreakpoints();
            break;
        case kCmdQuickWatch:
            QuickWatch();
            break;
        case kCmdAddVariable:
            AddVariable();
            break;
        case kCmdRemoveVariable:
            if (!m_frame.Output()->Variables()->RemoveSelected()) {
                CMessageSeam::Show(&m_frame, QStringLiteral("Please select an item first"));
            }
            break;
        case kCmdEditVariable:
            EditVariable();
            break;
        default:
            break;
    }
    m_frame.RedrawMargins();
}

void CDebugCommands::ToggleBreakpoint() {
    CSspView* view = m_frame.ActiveView();
    if (!view) {
        return;
    }
    if (view->Doc()->Path().isEmpty()) {
        CMessageSeam::Show(
            &m_frame,
            QStringLiteral("You must save this file first before you can set break point"));
        return;
    }
    const QTextBlock block = view->document()->findBlock(view->textCursor().selectionStart());
    if (block.text().left(255).trimmed().isEmpty()) {
        CMessageSeam::Show(&m_frame,
                           QStringLiteral("Break point can not be set on an empty line."));
        return;
    }
    if (view->StartsAboveView(block.blockNumber() + 1)) {
        return;
    }
    theDebugger.ToggleBreakpoint(view->Doc()->Path().toStdString(), block.blockNumber() + 1);
    m_frame.ActiveChild()->RedrawMargin();
}

void CDebugCommands::BrowseStep() {
    const std::string address =
        CBrowsePage::Address(theDebugger.IsSsl(), m_settings.FQDN, m_settings.GeneralTcpipAddress,
                             theDebugger.GetPort());
    const std::string page =
        (m_frame.RootPath() + QStringLiteral("/webroot/browse.html")).toStdString();
    if (!CBrowsePage::Write(page, address) || !OpenWithDesktop(page)) {
        CMessageSeam::Show(&m_frame,
                           QString::fromStdString(CBrowsePage::FailureText(page, address)));
    }
}

void CDebugCommands::ShowBreakpoints() {
    CBreakpointsDlg dialog(QString::fromStdString(theDebugger.GetBreakpointList()), &m_frame);
    dialog.exec();
    if (dialog.Result() == CBreakpointsDlg::kGoTo) {
        const QString entry = dialog.Selected();
        const qsizetype mark = entry.indexOf(QLatin1Char('?'));
        const QString path = mark < 0 ? entry : entry.left(mark);
        if (!path.isEmpty()) {
            if (CChildFrame* child = m_frame.OpenDocument(path)) {
                child->View()->GoToLine(entry.mid(mark + 1).toInt());
            }
        }
    } else if (dialog.Result() == CBreakpointsDlg::kClearAll) {
        theDebugger.ClearAllBreakpoints();
        m_frame.RedrawMargins();
    }
}

void CDebugCommands::QuickWatch() {
    CSspView* view = m_frame.ActiveView();
    CQuickWatchDlg dialog(view ? view->SelectedExpression() : QString(),
                          CQuickWatchDlg::kQuickWatch, QString(), &m_frame);
    dialog.exec();
}

void CDebugCommands::AddVariable() {
    CSspView* view = m_frame.ActiveView();
    QString expression = view ? view->SelectedExpression() : QString();
    if (expression.isEmpty()) {
        CWatchVarDlg dialog(&m_frame);
        if (dialog.exec() != QDialog::Accepted) {
            return;
        }
        expression = dialog.Expression();
    }
    if (!expression.isEmpty()) {
        m_frame.Output()->ShowTab(COutputBar::kVariablesTab);
        m_frame.Output()->Variables()->AddExpression(expression);
    }
}

void CDebugCommands::EditVariable() {
    QString name;
    QString value;
    if (!m_frame.Output()->Variables()->SelectedRow(name, value)) {
        CMessageSeam::Show(&m_frame, QStringLiteral("Please select an itme first"));
        return;
    }
    CQuickWatchDlg dialog(name, CQuickWatchDlg::kEditName, value, &m_frame);
    if (dialog.exec() == QDialog::Accepted) {
        m_frame.Output()->Variables()->SetSelectedRow(dialog.Expression(), dialog.Value());
    }
}
