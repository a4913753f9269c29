#include "studio/window/WorkspaceBar.h"

#include "studio/window/FileTreeCtrl.h"

CWorkspaceBar::CWorkspaceBar(QWidget* parent)
    : QTabWidget(parent), m_tree(new CFileTreeCtrl(this)) {
    addTab(m_tree, QStringLiteral("Files"));
}
