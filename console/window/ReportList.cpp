#include "console/window/ReportList.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QTreeWidget>

#include "console/window/DotsElideDelegate.h"

QTreeWidget* MakeReportList(QWidget* parent, const QStringList& headers) {
    auto* list = new QTreeWidget(parent);
    list->setHeaderLabels(headers);
    list->setRootIsDecorated(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setItemDelegate(new CDotsElideDelegate(list));
    return list;
}

QHBoxLayout* MakeCommandRow(
    QWidget* parent,
    std::initializer_list<std::pair<const char*, std::function<void()>>> commands) {
    auto* row = new QHBoxLayout;
    for (const auto& [text, command] : commands) {
        auto* button = new QPushButton(text, parent);
        QObject::connect(button, &QPushButton::clicked, parent, command);
        row->addWidget(button);
    }
    row->addStretch();
    return row;
}
