// The Find in Files dialog: the text, the file types and the folder.
#pragma once

#include "studio/window/FormDialog.h"

class CFindInFilesDlg : public CFormDialog {
    Q_OBJECT
public:
    CFindInFilesDlg(const QString& text, const QString& fileTypes, const QString& folder,
                    QWidget* parent = nullptr);
    QString Text() const { return m_text->text(); }
    QString FileTypes() const { return m_fileTypes->text(); }
    QString Folder() const { return m_folder->text(); }

private:
    QLineEdit* m_text;
    QLineEdit* m_fileTypes;
    QLineEdit* m_folder;
};
