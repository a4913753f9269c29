// The Variables tab: watched expressions and their values while the debugger is paused.
#pragma once

#include <QString>
#include <QTreeWidget>

class CVarListCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CVarListCtrl(QWidget* parent = nullptr);

    // Puts `expression` at the top with a fresh value, selected; an equal row goes first.
    void AddExpression(const QString& expression);
    // Every row's value evaluated again.
    void RefreshAll();
    // False when no row is selected.
    bool RemoveSelected();
    bool SelectedRow(QString& name, QString& value) const;
    void SetSelectedRow(const QString& name, const QString& value);

signals:
    // A row was double-clicked: edit its name.
    void EditRequested();

protected:
    void keyReleaseEvent(QKeyEvent* event) override;
};
