// The Set Tab Stops dialog: a whole number from 1 to 16.
#pragma once

#include "studio/window/FormDialog.h"

class CSetTabStops : public CFormDialog {
    Q_OBJECT
public:
    CSetTabStops(int tabStops, QWidget* parent = nullptr);
    int TabStops() const { return m_tabStops; }
    QLineEdit* Field() const { return m_field; }

protected:
    bool Validate() override;

private:
    QLineEdit* m_field;
    int m_tabStops;
};
