// The Quick Watch dialog, also the Edit Variable Name dialog of the Variables tab.
#pragma once

#include <QPushButton>

#include "studio/window/FormDialog.h"

class CQuickWatchDlg : public CFormDialog {
    Q_OBJECT
public:
    enum EMode { kQuickWatch = 1, kEditName = 2 };

    // In kEditName mode `value` is shown as given; in kQuickWatch it is evaluated.
    CQuickWatchDlg(const QString& expression, EMode mode, const QString& value,
                   QWidget* parent = nullptr);

    QString Expression() const { return m_expression->text(); }
    QString Value() const { return m_value->text(); }
    QLineEdit* ExpressionField() const { return m_expression; }
    QLineEdit* ValueField() const { return m_value; }
    // Evaluates the expression again, only while the debugger is paused.
    void Recalculate();

protected:
    bool Validate() override;

private:
    EMode m_mode;
    QLineEdit* m_expression;
    QLineEdit* m_value;
    QPushButton* m_recalculate;
    QString m_evaluated;
};
