#include "studio/window/FolderOptionsDlg.h"

CFolderOptionsDlg::CFolderOptionsDlg(const QString& root, const QString& filter, QWidget* parent)
    : CFormDialog(QStringLiteral("Folder Options"), parent),
      m_root(AddField(QStringLiteral("Full path for the root folder"), root)),
      m_filter(AddField(QStringLiteral("Display files with extensions"), filter)) {
    AddText(QStringLiteral("example: .zrp;.zrs;.html;"));
}
