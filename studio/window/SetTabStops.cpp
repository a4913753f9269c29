#include "studio/window/SetTabStops.h"

#include "studio/window/MessageSeam.h"

CSetTabStops::CSetTabStops(int tabStops, QWidget* parent)
    : CFormDialog(QStringLiteral("Set Tab Stops"), parent), m_tabStops(tabStops) {
    m_field = AddField(QStringLiteral("&Tab stops:"), QString::number(tabStops));
}

bool CSetTabStops::Validate() {
    bool ok = false;
    const int value = m_field->text().trimmed().toInt(&ok);
    if (!ok || value < 1 || value > 16) {
        CMessageSeam::Show(this, QStringLiteral("Please enter an integer between 1 and 16."));
        m_field->setFocus();
        return false;
    }
    m_tabStops = value;
    return true;
}
