#include "console/window/FileChoice.h"

#include <QFileDialog>
#include <QStringList>

namespace {

FileChooser& Chooser() {
    static FileChooser chooser;
    return chooser;
}

}  // namespace

std::optional<std::string> ChooseOpenFile(QWidget* parent, const CFileChoice& choice) {
    if (Chooser()) {
        return Chooser()(choice);
    }
    QStringList filters;
    for (const std::string& pattern : choice.m_patterns) {
        filters << QString::fromStdString(pattern + " (" + pattern + ")");
    }
    QFileDialog dialog(parent, QString::fromStdString(choice.m_title),
                       QString::fromStdString(choice.m_folder));
    dialog.setNameFilters(filters);
    dialog.setFileMode(choice.m_mustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setAcceptMode(choice.m_save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!choice.m_fileName.empty()) {
        dialog.selectFile(QString::fromStdString(choice.m_fileName));
    }
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList files = dialog.selectedFiles();
    return files.isEmpty() ? std::string() : files.first().toStdString();
}

FileChooser SetFileChooser(FileChooser chooser) {
    FileChooser previous = std::move(Chooser());
    Chooser() = std::move(chooser);
    return previous;
}
