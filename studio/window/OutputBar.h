// The output pane along the bottom of the main window: Debug, Request/Response, Variables and
// Find in Files, in that order.
#pragma once

#include <QTabWidget>

class COutputEdit;
class CVarListCtrl;
class CFindResultsList;

class COutputBar : public QTabWidget {
    Q_OBJECT
public:
    enum { kDebugTab = 0, kTrafficTab = 1, kVariablesTab = 2, kFindTab = 3 };
    static constexpr long kDebugLimit = 0x80000;
    static constexpr long kTrafficLimit = 0x800000;

    explicit COutputBar(QWidget* parent = nullptr);

    COutputEdit* DebugEdit() const { return m_debug; }
    COutputEdit* TrafficEdit() const { return m_traffic; }
    CVarListCtrl* Variables() const { return m_variables; }
    CFindResultsList* FindResults() const { return m_find; }
    // Shows `tab` and focuses its control.
    void ShowTab(int tab);
    // The next tab after the current one (the first after the last).
    void NextTab() { ShowTab((currentIndex() + 1) % count()); }

private:
    COutputEdit* m_debug;
    COutputEdit* m_traffic;
    CVarListCtrl* m_variables;
    CFindResultsList* m_find;
};
