#include "studio/window/SspDoc.h"

#include <QFile>
#include <QFileInfo>
#include <QPlainTextDocumentLayout>
#include <QSaveFile>
#include <QTextBlock>
#include <QTextCursor>

#include "studio/window/DocumentText.h"
#include "studio/window/LineEndData.h"

CSspDoc::CSspDoc(QObject* parent) : QObject(parent) {
    m_document.setDocumentLayout(new QPlainTextDocumentLayout(&m_document));
}

bool CSspDoc::Load(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString();
        return false;
    }
    const std::vector<CTextLine> lines = CDocumentText::Decode(
        std::string(data.constData(), static_cast<size_t>(data.size())), m_utf8);
    m_newLineEnd = CDocumentText::FirstLineEnd(lines);
    QString text;
    for (size_t i = 0; i < lines.size(); ++i) {
        text += (i ? QStringLiteral("\n") : QString()) + lines[i].m_text;
    }
    m_document.setPlainText(text);
    QTextBlock block = m_document.firstBlock();
    for (const CTextLine& line : lines) {
        block.setUserData(new CLineEndData(line.m_end));
        block = block.next();
    }
    m_document.clearUndoRedoStacks();
    m_document.setModified(false);
    m_path = path;
    return true;
}

bool CSspDoc::Bytes(std::string& bytes) const {
    bytes.clear();
    for (QTextBlock block = m_document.firstBlock(); block.isValid(); block = block.next()) {
        if (!CDocumentText::Encode(block.text(), m_utf8, bytes)) {
            return false;
        }
        if (block.next().isValid()) {
            const auto* data = dynamic_cast<const CLineEndData*>(block.userData());
            bytes += data && !data->End().empty() ? data->End() : m_newLineEnd;
        }
    }
    return true;
}

bool CSspDoc::Save(const QString& path, QString& error) {
    std::string bytes;
    if (!Bytes(bytes)) {
        error = QStringLiteral("The text holds characters that this file cannot store.");
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()) ||
        !file.commit()) {
        error = file.errorString();
        return false;
    }
    m_path = path;
    m_document.setModified(false);
    return true;
}

QString CSspDoc::Title() const {
    return m_path.isEmpty() ? m_title : QFileInfo(m_path).fileName();
}

QString CSspDoc::Extension() const {
    const qsizetype dot = m_path.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : m_path.mid(dot + 1).toLower();
}

int CSspDoc::PositionOfOffset(long offset) const {
    long start = 0;
    for (QTextBlock block = m_document.firstBlock(); block.isValid(); block = block.next()) {
        std::string bytes;
        CDocumentText::Encode(block.text(), m_utf8, bytes);
        const auto* data = dynamic_cast<const CLineEndData*>(block.userData());
        const long end = start + static_cast<long>(bytes.size());
        const long lineEnd = !block.next().isValid() ? 0
                             : data && !data->End().empty()
                                 ? static_cast<long>(data->End().size())
                                 : static_cast<long>(m_newLineEnd.size());
        if (offset < end + lineEnd || !block.next().isValid()) {
            return block.position() +
                   CDocumentText::CharacterAt(block.text(), m_utf8, offset - start);
        }
        start = end + lineEnd;
    }
    return 0;
}
