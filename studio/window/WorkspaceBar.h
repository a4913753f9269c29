// The workspace pane on the left of the main window: one tab, "Files".
#pragma once

#include <QTabWidget>

class CFileTreeCtrl;

class CWorkspaceBar : public QTabWidget {
    Q_OBJECT
public:
    explicit CWorkspaceBar(QWidget* parent = nullptr);
    CFileTreeCtrl* Tree() const { return m_tree; }

private:
    CFileTreeCtrl* m_tree;
};
