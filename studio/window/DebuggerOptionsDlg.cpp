#include "studio/window/DebuggerOptionsDlg.h"

#include <QGroupBox>

CDebuggerOptionsDlg::CDebuggerOptionsDlg(const QString& port, bool ssl, QWidget* parent)
    : CFormDialog(QStringLiteral("Debugger Options"), parent),
      m_port(AddField(QStringLiteral("Debugger web server TCP port:"), port)) {
    auto* type = new QGroupBox(QStringLiteral("Debugger web server type:"), this);
    m_normal = new QRadioButton(QStringLiteral("Normal (i.e. http)"), type);
    m_secured = new QRadioButton(QStringLiteral("Secured (i.e. https, SSL)"), type);
    (ssl ? m_secured : m_normal)->setChecked(true);
    auto* column = new QVBoxLayout(type);
    column->addWidget(m_normal);
    column->addWidget(m_secured);
    m_layout->insertWidget(m_layout->indexOf(m_buttons), type);
    AddText(QStringLiteral(
        "Velmorin Studio gets all settings, such as database connection information from Server "
        "Console, Server Settings EXCEPT the TCP port number. It must have its own port number."));
}
