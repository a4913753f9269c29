// A dialog of labelled fields over OK and Cancel, the shape most of the studio's dialogs have.
#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QVBoxLayout>

class CFormDialog : public QDialog {
    Q_OBJECT
public:
    CFormDialog(const QString& title, QWidget* parent);

    QDialogButtonBox* Buttons() const { return m_buttons; }
    // Reads the fields and accepts, unless Validate refuses.
    void accept() override;

protected:
    // A labelled one-line field holding `value`.
    QLineEdit* AddField(const QString& label, const QString& value);
    // A line of text.
    void AddText(const QString& text);
    // Refuses OK (after telling why); the fields then stay open.
    virtual bool Validate() { return true; }

    QVBoxLayout* m_layout;
    QDialogButtonBox* m_buttons;
};
