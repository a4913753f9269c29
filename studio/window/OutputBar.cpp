#include "studio/window/OutputBar.h"

#include "studio/window/FindResultsList.h"
#include "studio/window/OutputEdit.h"
#include "studio/window/VarListCtrl.h"

COutputBar::COutputBar(QWidget* parent)
    : QTabWidget(parent),
      m_debug(new COutputEdit(kDebugLimit, this)),
      m_traffic(new COutputEdit(kTrafficLimit, this)),
      m_variables(new CVarListCtrl(this)),
      m_find(new CFindResultsList(this)) {
    addTab(m_debug, QStringLiteral("Debug"));
    addTab(m_traffic, QStringLiteral("Request/Response"));
    addTab(m_variables, QStringLiteral("Variables"));
    addTab(m_find, QStringLiteral("Find in Files"));
}

void COutputBar::ShowTab(int tab) {
    setCurrentIndex(tab);
    if (QWidget* shown = widget(tab)) {
        shown->setFocus();
    }
}
