#include "studio/window/DocumentText.h"

#include <QStringDecoder>

namespace {

QString Shown(const QString& text) {
    QString shown = text;
    for (QChar& c : shown) {
        if (c == QLatin1Char('\r')) {
            c = QChar(CDocumentText::kCrMark);
        } else if (c.unicode() == 0) {
            c = QChar(CDocumentText::kNulMark);
        }
    }
    return shown;
}

QString Stored(const QString& text) {
    QString stored = text;
    for (QChar& c : stored) {
        if (c.unicode() == CDocumentText::kCrMark) {
            c = QLatin1Char('\r');
        } else if (c.unicode() == CDocumentText::kNulMark) {
            c = QChar(0);
        }
    }
    return stored;
}

}  // namespace

bool CDocumentText::IsUtf8(const std::string& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    const QString text =
        decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return !decoder.hasError();
}

std::vector<CTextLine> CDocumentText::Decode(const std::string& bytes, bool& utf8) {
    // UTF-8 that holds the marks themselves, or a paragraph separator (which the editor would
    // take for a line break), is shown byte for byte so that it saves unchanged.
    utf8 = IsUtf8(bytes) && bytes.find("\xE2\x90\x8D") == std::string::npos &&
           bytes.find("\xE2\x90\x80") == std::string::npos &&
           bytes.find("\xE2\x80\xA9") == std::string::npos;
    std::vector<CTextLine> lines;
    size_t start = 0;
    while (true) {
        const size_t lf = bytes.find('\n', start);
        size_t end = lf == std::string::npos ? bytes.size() : lf;
        CTextLine line;
        if (lf != std::string::npos) {
            line.m_end = "\n";
            if (end > start && bytes[end - 1] == '\r') {
                --end;
                line.m_end = "\r\n";
            }
        }
        const char* data = bytes.data() + start;
        const auto size = static_cast<qsizetype>(end - start);
        line.m_text = Shown(utf8 ? QString::fromUtf8(data, size) : QString::fromLatin1(data, size));
        lines.push_back(std::move(line));
        if (lf == std::string::npos) {
            break;
        }
        start = lf + 1;
    }
    return lines;
}

std::string CDocumentText::FirstLineEnd(const std::vector<CTextLine>& lines) {
    return lines.empty() || lines.front().m_end.empty() ? std::string("\n") : lines.front().m_end;
}

bool CDocumentText::CanStore(const QString& text, bool utf8) {
    for (QChar c : text) {
        // A typed mark would save as the byte it stands for.
        if (c.unicode() == kCrMark || c.unicode() == kNulMark || c == QChar::ParagraphSeparator ||
            (!utf8 && c.unicode() > 0xFF)) {
            return false;
        }
    }
    return true;
}

bool CDocumentText::Encode(const QString& text, bool utf8, std::string& bytes) {
    for (QChar c : text) {
        if (!utf8 && c.unicode() > 0xFF && c.unicode() != kCrMark && c.unicode() != kNulMark) {
            return false;
        }
    }
    const QByteArray data = utf8 ? Stored(text).toUtf8() : Stored(text).toLatin1();
    bytes.append(data.constData(), static_cast<size_t>(data.size()));
    return true;
}

int CDocumentText::CharacterAt(const QString& text, bool utf8, long offset) {
    long bytes = 0;
    for (int i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool pair = utf8 && QChar::isHighSurrogate(c) && i + 1 < text.size();
        // A mark stands for the one byte it shows.
        const bool mark = c == kCrMark || c == kNulMark;
        const long width = !utf8 || mark ? 1 : pair ? 4 : c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        if (offset < bytes + width) {
            return i;
        }
        bytes += width;
        i += pair ? 1 : 0;
    }
    return static_cast<int>(text.size());
}
