#include "studio/window/FindInFilesDlg.h"

CFindInFilesDlg::CFindInFilesDlg(const QString& text, const QString& fileTypes,
                                 const QString& folder, QWidget* parent)
    : CFormDialog(QStringLiteral("Find in Files"), parent),
      m_text(AddField(QStringLiteral("Find &what"), text)),
      m_fileTypes(AddField(QStringLiteral("In files/file &types:"), fileTypes)),
      m_folder(AddField(QStringLiteral("In &folder:"), folder)) {}
