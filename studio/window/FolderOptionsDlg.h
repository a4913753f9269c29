// The Folder Options dialog: the file tree's root folder and filter.
#pragma once

#include "studio/window/FormDialog.h"

class CFolderOptionsDlg : public CFormDialog {
    Q_OBJECT
public:
    CFolderOptionsDlg(const QString& root, const QString& filter, QWidget* parent = nullptr);
    QString Root() const { return m_root->text(); }
    QString Filter() const { return m_filter->text(); }

private:
    QLineEdit* m_root;
    QLineEdit* m_filter;
};
