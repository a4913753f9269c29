#include "studio/window/FindResultsList.h"

#include <QMetaObject>

#include "studio/window/MessageSeam.h"

CFindResultsList::CFindResultsList(QWidget* parent) : QListWidget(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    connect(this, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* item) {
        std::string path;
        int line = 0;
        if (SplitFindResult(item->text().toStdString(), path, line) && !path.empty()) {
            emit OpenResult(QString::fromStdString(path), line, m_searchText);
        }
    });
}

CFindResultsList::~CFindResultsList() {
    m_search.Stop();
    m_search.Join();
}

bool CFindResultsList::Start(const QString& text, const QString& fileTypes, const QString& folder) {
    m_searchText = text;
    const bool started =
        m_search.Start(text.toStdString(), fileTypes.toStdString(), folder.toStdString(),
                       [this](const std::string& row) {
                           // The list outlives the thread (its destructor joins it).
                           QMetaObject::invokeMethod(
                               this, [this, text = QString::fromStdString(row)] { AddRow(text); },
                               Qt::QueuedConnection);
                       });
    if (!started) {
        CMessageSeam::Show(this, QStringLiteral("Failed to start find in files thread"));
        return false;
    }
    // Open until "}" has come, however soon the thread itself ends.
    m_bOpen = true;
    return true;
}

void CFindResultsList::AddRow(const QString& row) {
    if (row == QLatin1String("{")) {
        clear();
        m_bOpen = true;
        return;
    }
    if (row == QLatin1String("}")) {
        m_bOpen = false;
        if (count() > 0) {
            setCurrentRow(0);
        }
        return;
    }
    addItem(row);
}
