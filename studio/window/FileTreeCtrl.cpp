#include "studio/window/FileTreeCtrl.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QApplication>
#include <QKeyEvent>
#include <QStyle>
#include <algorithm>
#include <memory>

#include "engine/foundation/AsciiText.h"
#include "studio/FindInFiles.h"
#include "studio/window/MessageSeam.h"

namespace {

constexpr int kIsFileRole = Qt::UserRole + 1;

QString Joined(const QString& folder, const QString& name) {
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

}  // namespace

CFileTreeCtrl::CFileTreeCtrl(QWidget* parent) : QTreeWidget(parent) {
    setHeaderHidden(true);
    setColumnCount(1);
    setDragEnabled(false);
    connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
        qDeleteAll(item->takeChildren());
        ListFolder(item, PathOf(item));
        item->setIcon(0, style()->standardIcon(QStyle::SP_DirOpenIcon));
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
        item->setIcon(0, style()->standardIcon(QStyle::SP_DirClosedIcon));
    });
    connect(this, &QTreeWidget::itemDoubleClicked, this, [this] { OpenSelected(); });
}

void CFileTreeCtrl::SetFilter(const QString& filter) {
    m_extensions = ParseFileTypes(filter.toStdString());
}

QString CFileTreeCtrl::FilterText() const {
    QString text;
    for (const std::string& extension : m_extensions) {
        text += QString::fromStdString(extension) + QStringLiteral("; ");
    }
    return text;
}

bool CFileTreeCtrl::MatchesFilter(const std::string& name) const {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    const std::string extension = AsciiLowerCopy(name.substr(dot));
    return std::find(m_extensions.begin(), m_extensions.end(), extension) != m_extensions.end();
}

bool CFileTreeCtrl::Fill(const QString& root) {
    clear();
    auto* rootItem = new QTreeWidgetItem({root});
    rootItem->setIcon(0, style()->standardIcon(QStyle::SP_DirOpenIcon));
    if (!ListFolder(rootItem, root)) {
        delete rootItem;
        CMessageSeam::Show(this, QStringLiteral("Root folder not found or the folder is empty."));
        return false;
    }
    addTopLevelItem(rootItem);
    // Already listed: expanding must not list it again.
    const QSignalBlocker blocker(this);
    rootItem->setExpanded(true);
    setCurrentItem(rootItem);
    return true;
}

bool CFileTreeCtrl::ListFolder(QTreeWidgetItem* parent, const QString& path) {
    const std::string folder = path.toStdString();
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.empty() ? "/" : folder.c_str()),
                                            closedir);
    if (!dir) {
        return false;
    }
    std::vector<std::string> folders;
    std::vector<std::string> files;
    while (const dirent* entry = readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info {};
        const std::string full = Joined(path, QString::fromStdString(name)).toStdString();
        if (stat(full.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
            folders.push_back(name);
        } else if (MatchesFilter(name)) {
            files.push_back(name);
        }
    }
    std::sort(folders.begin(), folders.end());
    std::sort(files.begin(), files.end());
    const QIcon folderIcon = style()->standardIcon(QStyle::SP_DirClosedIcon);
    const QIcon fileIcon = style()->standardIcon(QStyle::SP_FileIcon);
    for (const std::string& name : folders) {
        auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(name)});
        item->setIcon(0, folderIcon);
        new QTreeWidgetItem(item, {QStringLiteral("dummy")});
    }
    for (const std::string& name : files) {
        auto* item = new QTreeWidgetItem(parent, {QString::fromStdString(name)});
        item->setIcon(0, fileIcon);
        item->setData(0, kIsFileRole, true);
    }
    return true;
}

QString CFileTreeCtrl::PathOf(const QTreeWidgetItem* item) {
    if (!item) {
        return QString();
    }
    if (!item->parent()) {
        return item->text(0);
    }
    return Joined(PathOf(item->parent()), item->text(0));
}

bool CFileTreeCtrl::IsFile(const QTreeWidgetItem* item) const {
    return item && item->data(0, kIsFileRole).toBool();
}

QString CFileTreeCtrl::SelectedFilePath() const {
    const QTreeWidgetItem* item = currentItem();
    return IsFile(item) ? PathOf(item) : QString();
}

QString CFileTreeCtrl::SelectedFolderPath() const {
    const QTreeWidgetItem* item = currentItem();
    if (!item) {
        return QString();
    }
    return IsFile(item) ? PathOf(item->parent()) : PathOf(item);
}

void CFileTreeCtrl::OpenSelected() {
    const QString path = SelectedFilePath();
    if (!path.isEmpty()) {
        emit OpenFile(path);
    }
}

void CFileTreeCtrl::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OpenSelected();
        return;
    }
    QTreeWidget::keyPressEvent(event);
}
