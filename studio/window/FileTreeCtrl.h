// The "Files" tree: the root folder's folders and the files that match the filter.
#pragma once

#include <QString>
#include <QTreeWidget>
#include <string>
#include <vector>

class CFileTreeCtrl : public QTreeWidget {
    Q_OBJECT
public:
    explicit CFileTreeCtrl(QWidget* parent = nullptr);

    void SetFilter(const QString& filter);
    // The extensions, each followed by "; ".
    QString FilterText() const;
    bool MatchesFilter(const std::string& name) const;
    // Lists `root` afresh; false, after a message box, when it cannot be listed.
    bool Fill(const QString& root);
    QString SelectedFilePath() const;
    QString SelectedFolderPath() const;
    // The path of `item`: its ancestors' texts and its own joined with "/".
    static QString PathOf(const QTreeWidgetItem* item);

signals:
    // A file was double-clicked or entered.
    void OpenFile(const QString& path);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    bool ListFolder(QTreeWidgetItem* parent, const QString& path);
    bool IsFile(const QTreeWidgetItem* item) const;
    void OpenSelected();

    std::vector<std::string> m_extensions;
};
