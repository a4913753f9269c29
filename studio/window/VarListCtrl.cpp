#include "studio/window/VarListCtrl.h"

#include <QHeaderView>
#include <QKeyEvent>

#include "studio/DebugController.h"

namespace {

QString ValueOf(const QString& expression) {
    return QString::fromStdString(theDebugger.GetValueText(expression.toStdString()));
}

}  // namespace

CVarListCtrl::CVarListCtrl(QWidget* parent) : QTreeWidget(parent) {
    setColumnCount(2);
    setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Value")});
    setRootIsDecorated(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSortingEnabled(false);
    header()->setSectionsClickable(false);
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        setCurrentItem(item);
        emit EditRequested();
    });
}

void CVarListCtrl::AddExpression(const QString& expression) {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->text(0) == expression) {
            delete takeTopLevelItem(i);
            break;
        }
    }
    auto* item = new QTreeWidgetItem({expression, ValueOf(expression)});
    insertTopLevelItem(0, item);
    setCurrentItem(item);
}

void CVarListCtrl::RefreshAll() {
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = topLevelItem(i);
        item->setText(1, ValueOf(item->text(0)));
    }
}

bool CVarListCtrl::RemoveSelected() {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (selected.isEmpty()) {
        return false;
    }
    delete takeTopLevelItem(indexOfTopLevelItem(selected.front()));
    return true;
}

bool CVarListCtrl::SelectedRow(QString& name, QString& value) const {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    name.clear();
    value.clear();
    if (selected.isEmpty()) {
        return false;
    }
    name = selected.front()->text(0);
    value = selected.front()->text(1);
    return true;
}

void CVarListCtrl::SetSelectedRow(const QString& name, const QString& value) {
    const QList<QTreeWidgetItem*> selected = selectedItems();
    if (!selected.isEmpty()) {
        selected.front()->setText(0, name);
        selected.front()->setText(1, value);
    }
}

void CVarListCtrl::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete) {
        RemoveSelected();
        return;
    }
    QTreeWidget::keyReleaseEvent(event);
}
