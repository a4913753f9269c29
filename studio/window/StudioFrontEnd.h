// The debugger's notices handed to the main window's thread.
#pragma once

#include "studio/DebugFrontEnd.h"

class CMainFrame;

class CStudioFrontEnd : public CDebugFrontEnd {
public:
    explicit CStudioFrontEnd(CMainFrame* frame) : m_frame(frame) {}

    void OnAttached() override {}
    void OnBreak(int line, const std::string& path) override;
    void OnShowError(int offset, const std::string& path) override;
    void OnHttpText(const std::string& text) override;

private:
    CMainFrame* m_frame;  // outlives this: the frame stops the debugger before it goes
};
