// One open file of the studio: its path and its text, kept as the bytes it was read from
// (see CDocumentText), with each line's own line end.
#pragma once

#include <QObject>
#include <QString>
#include <QTextDocument>
#include <string>

class CSspDoc : public QObject {
    Q_OBJECT
public:
    explicit CSspDoc(QObject* parent = nullptr);

    // Reads the file at `path`; false with the system's reason in `error`.
    bool Load(const QString& path, QString& error);
    // Writes the text to `path`, which then becomes the document's path; false with the reason.
    bool Save(const QString& path, QString& error);
    // The bytes that Save writes; false when a character cannot be stored.
    bool Bytes(std::string& bytes) const;

    QTextDocument* Document() { return &m_document; }
    const QString& Path() const { return m_path; }
    void SetUntitled(const QString& title) { m_title = title; }
    // The file name, or the untitled document's name.
    QString Title() const;
    // The text after the path's last ".", lower-cased; "" without one.
    QString Extension() const;
    bool IsUtf8() const { return m_utf8; }
    bool IsModified() const { return m_document.isModified(); }
    // The character position that byte `offset` of the file falls on; past the end, the end.
    int PositionOfOffset(long offset) const;

private:
    QTextDocument m_document;
    QString m_path;
    QString m_title;
    bool m_utf8 = true;
    std::string m_newLineEnd = "\n";
};
