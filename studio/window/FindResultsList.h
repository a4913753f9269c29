// The Find in Files tab: the rows of a search that runs on a thread of its own.
#pragma once

#include <QListWidget>
#include <QString>

#include "studio/FileFindThread.h"

class CFindResultsList : public QListWidget {
    Q_OBJECT
public:
    explicit CFindResultsList(QWidget* parent = nullptr);
    // Stops and joins a search that still runs before the list goes.
    ~CFindResultsList() override;

    // False, after a message box, when no search thread could be started.
    bool Start(const QString& text, const QString& fileTypes, const QString& folder);
    void Stop() { m_search.Stop(); }
    void Join() { m_search.Join(); }
    // No search runs.
    bool IsDone() const { return m_search.IsDone() && !m_bOpen; }
    const QString& SearchText() const { return m_searchText; }

    // One row from the search ("{" and "}" open and close a search).
    void AddRow(const QString& row);

signals:
    // A result row was double-clicked.
    void OpenResult(const QString& path, int line, const QString& text);

private:
    CFileFindThread m_search;
    QString m_searchText;
    bool m_bOpen = false;  // "{" has come and "}" has not
};
