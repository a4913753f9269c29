#include "studio/window/StudioFrontEnd.h"

#include <QMetaObject>

#include "studio/window/MainFrame.h"

void CStudioFrontEnd::OnBreak(int line, const std::string& path) {
    CMainFrame* frame = m_frame;
    QMetaObject::invokeMethod(
        frame, [frame, line, path] { frame->OnDebugBreak(line, QString::fromStdString(path)); },
        Qt::QueuedConnection);
}

void CStudioFrontEnd::OnShowError(int offset, const std::string& path) {
    CMainFrame* frame = m_frame;
    QMetaObject::invokeMethod(
        frame,
        [frame, offset, path] { frame->OnDebugShowError(offset, QString::fromStdString(path)); },
        Qt::QueuedConnection);
}

void CStudioFrontEnd::OnHttpText(const std::string& text) {
    CMainFrame* frame = m_frame;
    QMetaObject::invokeMethod(
        frame, [frame, text] { frame->OnHttpText(text); }, Qt::QueuedConnection);
}
