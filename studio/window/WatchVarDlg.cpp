#include "studio/window/WatchVarDlg.h"

CWatchVarDlg::CWatchVarDlg(QWidget* parent)
    : CFormDialog(QStringLiteral("Add Variable to Watch"), parent),
      m_field(AddField(QStringLiteral("Variable Name"), QString())) {}
