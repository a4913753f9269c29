#include "studio/window/QuickWatchDlg.h"

#include "studio/DebugController.h"

CQuickWatchDlg::CQuickWatchDlg(const QString& expression, EMode mode, const QString& value,
                               QWidget* parent)
    : CFormDialog(QStringLiteral("Quick Watch"), parent),
      m_mode(mode),
      m_expression(AddField(QStringLiteral("Variable name"), expression)),
      m_value(AddField(QStringLiteral("Variable value"), QString())),
      m_recalculate(
          m_buttons->addButton(QStringLiteral("&Recalculate"), QDialogButtonBox::ActionRole)),
      m_evaluated(expression) {
    connect(m_recalculate, &QPushButton::clicked, this, &CQuickWatchDlg::Recalculate);
    if (mode == kEditName) {
        setWindowTitle(QStringLiteral("Edit Variable Name"));
        m_value->setText(value);
    } else if (theDebugger.IsPaused()) {
        m_value->setText(
            QString::fromStdString(theDebugger.GetValueText(expression.toStdString())));
    } else {
        m_value->setText(QString::fromLatin1(CDebugController::kNotPaused));
    }
}

void CQuickWatchDlg::Recalculate() {
    if (!theDebugger.IsPaused()) {
        return;
    }
    m_evaluated = m_expression->text();
    m_value->setText(QString::fromStdString(theDebugger.GetValueText(m_evaluated.toStdString())));
}

bool CQuickWatchDlg::Validate() {
    if (m_mode == kEditName && m_expression->text() != m_evaluated) {
        Recalculate();
    }
    return true;
}
