// The console's report lists: full-row selection, no tree, over-long cells ending in "...";
// and the row of command buttons under such a list.
#pragma once

#include <QStringList>
#include <functional>
#include <initializer_list>
#include <utility>

class QHBoxLayout;
class QTreeWidget;
class QWidget;

QTreeWidget* MakeReportList(QWidget* parent, const QStringList& headers);

// A row of buttons, each running its command when clicked, followed by a stretch.
QHBoxLayout* MakeCommandRow(
    QWidget* parent, std::initializer_list<std::pair<const char*, std::function<void()>>> commands);
