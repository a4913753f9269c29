// The lexical half of the interpreter: literal text and code blocks, tokens, and the token
// lists of statements and parenthesised conditions.
#include <cstring>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspMemberRow.h"
#include "engine/script/SspExpression.h"
#include "engine/script/SspScanner.h"
#include "engine/script/SspSourceFile.h"
#include "engine/script/SspTokenCache.h"

namespace {

bool IsOneCharOperator(char c) {
    return std::strchr("%()*+,-/;<=>", c) != nullptr && c != 0;
}

bool IsTwoCharOperator(char a, char b) {
    return (a == '<' && (b == '=' || b == '>')) || (a == '>' && b == '=') ||
           (a == '=' && b == '=') || (a == '!' && b == '=') || (a == '|' && b == '|');
}

bool StartsWith(const char* p, const char* end, const char* what) {
    std::size_t n = std::strlen(what);
    return static_cast<std::size_t>(end - p) >= n && std::memcmp(p, what, n) == 0;
}

}  // namespace

CSspTokenCache* CSspScanner::TokenCache() {
    return m_pFile != nullptr && m_pFile->IsLoaded() ? &m_pFile->TokenCache() : nullptr;
}

int CSspScanner::FindCodeStart(std::string& literal) {
    // literal: text up to '<!--{' (kind 1) | '--{' (kind 2) | the end
    const char* from = m_pPos;
    CSspTokenCache* cache = TokenCache();
    if (cache != nullptr) {
        const CSspTokenCache::CLiteral* hit = cache->FindLiteral(from);
        if (hit != nullptr && hit->m_pAfter <= m_pEnd) {
            literal.assign(from, hit->m_pOpener);
            m_pPos = hit->m_pAfter;
            return hit->m_nKind;
        }
    }
    for (const char* p = m_pPos; p < m_pEnd; ++p) {
        if (*p != '<' && *p != '-') {
            continue;
        }
        int kind = 0;
        std::size_t length = 0;
        if (StartsWith(p, m_pEnd, "<!--{")) {
            kind = 1;
            length = 5;
        } else if (StartsWith(p, m_pEnd, "--{")) {
            kind = 2;
            length = 3;
        }
        if (kind != 0) {
            literal.assign(from, p);
            m_pPos = p + length;
            if (cache != nullptr) {
                cache->StoreLiteral(from, CSspTokenCache::CLiteral{p, m_pPos, kind});
            }
            return kind;
        }
    }
    literal.assign(from, m_pEnd);
    m_pPos = m_pEnd;
    return 0;
}

int CSspScanner::FindCodeStartByLine(std::string& literal) {
    // literal: text up to '\n' (kept) | '<!--{' | '--{' | the end
    const char* from = m_pPos;
    for (const char* p = m_pPos; p < m_pEnd; ++p) {
        if (*p == '\n') {
            literal.assign(from, p + 1);
            m_pPos = p + 1;
            return 0;
        }
        int kind = 0;
        std::size_t length = 0;
        if (*p == '<' && StartsWith(p, m_pEnd, "<!--{")) {
            kind = 1;
            length = 5;
        } else if (*p == '-' && StartsWith(p, m_pEnd, "--{")) {
            kind = 2;
            length = 3;
        }
        if (kind != 0) {
            literal.assign(from, p);
            m_pPos = p + length;
            return kind;
        }
    }
    literal.assign(from, m_pEnd);
    m_pPos = m_pEnd;
    return 0;
}

const char* CSspScanner::NextToken(std::string& token, CSspKeyword* keyword) {
    // token: as ScanToken reads it, or the file's cached one at this position
    if (m_pPos >= m_pEnd) {
        token.clear();
        m_bScanHitEnd = true;
        return m_pPos;
    }
    CSspTokenCache* cache = TokenCache();
    if (cache != nullptr) {
        // An entry scanned over a wider range (the whole file around a function body) is
        // valid only when it ends within this one.
        const CSspTokenCache::CToken* hit = cache->FindToken(m_pPos);
        if (hit != nullptr && hit->m_pAfter <= m_pEnd) {
            token = hit->m_text;
            m_pPos = hit->m_pAfter;
            if (keyword != nullptr) {
                *keyword = hit->m_keyword;
            }
            return hit->m_pStart;
        }
    }
    const char* from = m_pPos;
    bool hitBefore = m_bScanHitEnd;
    m_bScanHitEnd = false;
    const char* start = ScanToken(token);
    const bool store = cache != nullptr && !m_bScanHitEnd;
    if (store || keyword != nullptr) {
        const CSspKeyword found = FindSspKeyword(token);
        if (keyword != nullptr) {
            *keyword = found;
        }
        if (store) {
            cache->StoreToken(from, CSspTokenCache::CToken{token, start, m_pPos, found});
        }
    }
    m_bScanHitEnd = m_bScanHitEnd || hitBefore;
    return start;
}

const char* CSspScanner::ScanToken(std::string& token) {
    // token: name | number | string | op2 | op1 | '}--', after blanks and comments
    token.clear();
    const char* start = m_pPos;
    while (m_pPos < m_pEnd) {
        char c = *m_pPos;
        char next = m_pPos + 1 < m_pEnd ? m_pPos[1] : '\0';
        if (c == '/' && next == '/') {
            // A comment ends the token before it, so "a//x" is the name a.
            if (!token.empty()) {
                return start;
            }
            SkipToLineEnd();
            continue;
        }
        if (IsSpaceTabOrLineBreak(c)) {
            if (!token.empty()) {
                return start;
            }
            ++m_pPos;
            continue;
        }
        if (c == '\'') {
            if (!token.empty()) {
                return start;
            }
            start = m_pPos;
            ScanStringLiteral(token, m_pPos);
            return start;
        }
        std::size_t opLength = 0;
        if (IsTwoCharOperator(c, next)) {
            opLength = 2;
        } else if (IsOneCharOperator(c)) {
            opLength = 1;
        } else if (c == '}' && StartsWith(m_pPos, m_pEnd, "}--")) {
            opLength = 3;
        }
        if (opLength != 0) {
            if (!token.empty()) {
                return start;
            }
            start = m_pPos;
            token.assign(m_pPos, opLength);
            m_pPos += opLength;
            return start;
        }
        if (token.empty()) {
            start = m_pPos;
        }
        token += c;
        ++m_pPos;
    }
    m_bScanHitEnd = true;
    return token.empty() ? m_pPos : start;
}

void CSspScanner::ScanStringLiteral(std::string& token, const char* quote) {
    // string: "'" ( char | "''" | "\\'" | "\\\\" )* "'" ( comments "'" ... "'" )*
    token = "'";
    m_pPos = quote + 1;
    for (;;) {
        if (m_pPos >= m_pEnd || *m_pPos == '\n') {
            throw CSspException(g_msg.m_missingQuote, quote);
        }
        char c = *m_pPos;
        char next = m_pPos + 1 < m_pEnd ? m_pPos[1] : '\0';
        // Pairs the evaluator reads as one character never end the literal; "\\" is one of
        // them, so 'C:\\' closes.
        if ((c == '\'' && next == '\'') || (c == '\\' && (next == '\'' || next == '\\'))) {
            token += c;
            token += next;
            m_pPos += 2;
            continue;
        }
        if (c != '\'') {
            token += c;
            ++m_pPos;
            continue;
        }
        // Closing quote: a literal that follows after blanks and comments continues this one.
        ++m_pPos;
        const char* p = m_pPos;
        for (;;) {
            if (p >= m_pEnd) {
                m_bScanHitEnd = true;
                break;
            }
            if (IsSpaceTabOrLineBreak(*p)) {
                ++p;
            } else if (*p == '/' && p + 1 < m_pEnd && p[1] == '/') {
                const char* lf = static_cast<const char*>(std::memchr(p, '\n', m_pEnd - p));
                p = lf ? lf + 1 : m_pEnd;
            } else {
                break;
            }
        }
        if (p < m_pEnd && *p == '\'') {
            quote = p;
            m_pPos = p + 1;
            continue;
        }
        token += '\'';
        return;
    }
}

std::string CSspScanner::PeekToken() {
    // token, without moving past it
    const char* saved = m_pPos;
    std::string token;
    NextToken(token);
    m_pPos = saved;
    return token;
}

void CSspScanner::SkipToLineEnd() {
    // comment: '//' char* '\n'
    const char* lf = static_cast<const char*>(std::memchr(m_pPos, '\n', m_pEnd - m_pPos));
    if (lf == nullptr) {
        m_bScanHitEnd = true;
        m_pPos = m_pEnd;
    } else {
        m_pPos = lf + 1;
    }
}

void CSspScanner::EndCodeBlock() {
    // block end: '}--' [ '>' in a '<!--{' block ]
    if (m_nCodeKind == 1) {
        const char* at = m_pPos;
        std::string token;
        NextToken(token);
        if (token != ">") {
            throw CSspException(g_msg.m_shouldBeCloseTag, at);
        }
    }
    m_nCodeKind = 0;
}

std::string CSspScanner::ReadParenText(const char* start) {
    // args: '(' ( token | '(' args ')' )* ')', after the '('
    std::string text = "(";
    int depth = 1;
    for (;;) {
        std::string token;
        NextToken(token);
        if (token.empty() || token == ";" || token == "}--") {
            throw CSspException(g_msg.m_missingCloseParen, start);
        }
        text += token;
        if (token == "(") {
            ++depth;
        } else if (token == ")" && --depth == 0) {
            return text;
        }
    }
}

void CSspScanner::CompleteDateLiteral(std::string& token, const char* start) {
    // date: ( '{d' | '{ts' ) token* '}', after the opener
    for (;;) {
        std::string part;
        NextToken(part);
        if (part.empty()) {
            throw CSspException(g_msg.m_missingCloseBrace, start);
        }
        token += part;
        if (part == "}") {
            return;
        }
    }
}

const CSspExpression& CSspScanner::ReadParenthesized(CSspExpression& own) {
    // condition: '(' statement ')'
    const char* start = m_pPos;
    CSspTokenCache* cache = TokenCache();
    if (cache != nullptr) {
        const CSspTokenCache::CStatement* hit = cache->FindParenthesized(start);
        if (hit != nullptr && hit->m_pAfter <= m_pEnd) {
            m_pPos = hit->m_pAfter;
            return hit->m_expr;
        }
    }
    std::string token;
    const char* open = NextToken(token);
    if (token != "(") {
        throw CSspException(g_msg.m_missingOpenParen, start);
    }
    const char* from = m_pPos;
    const CSspExpression& expr = ScanStatement(own, true, open);
    if (cache != nullptr && &expr != &own) {
        // Both the "(" and the statement came from the cache or went into it.
        const CSspTokenCache::CStatement* stored =
            cache->FindStatement(from, CSspTokenCache::Mode::Parenthesized);
        if (stored != nullptr && &stored->m_expr == &expr) {
            cache->StoreParenthesized(start, stored);
        }
    }
    return expr;
}

const CSspTokenCache::CStatement* CSspScanner::TakeCachedParenthesized() {
    CSspTokenCache* cache = TokenCache();
    const CSspTokenCache::CStatement* hit =
        cache != nullptr ? cache->FindParenthesized(m_pPos) : nullptr;
    if (hit == nullptr || hit->m_pAfter > m_pEnd) {
        return nullptr;
    }
    m_pPos = hit->m_pAfter;
    return hit;
}

const CSspTokenCache::CStatement* CSspScanner::TakeCachedStatement() {
    using Mode = CSspTokenCache::Mode;
    CSspTokenCache* cache = TokenCache();
    const CSspTokenCache::CStatement* hit =
        cache != nullptr ? cache->FindStatement(m_pPos, Mode::ToSemicolon) : nullptr;
    if (hit == nullptr || hit->m_pAfter > m_pEnd) {
        return nullptr;
    }
    m_pPos = hit->m_pAfter;
    return hit;
}

const CSspExpression& CSspScanner::ReadStatementTokens(CSspExpression& own) {
    // statement: as ScanStatement reads it, then ';' | '}--'
    return ScanStatement(own, false, m_pPos);
}

const CSspExpression& CSspScanner::ScanStatement(CSspExpression& own, bool parenthesized,
                                                 const char* start, bool toRangeEnd) {
    // statement: ( operand [ '(' args ')' ] | operator | '(' statement ')' | date )*
    using Mode = CSspTokenCache::Mode;
    const Mode mode = parenthesized ? Mode::Parenthesized : Mode::ToSemicolon;
    CSspTokenCache* cache = TokenCache();
    const char* from = m_pPos;
    const CSspTokenCache::CStatement* hit = nullptr;
    if (cache != nullptr) {
        hit = cache->FindStatement(from, mode);
        if (hit != nullptr && hit->m_pAfter <= m_pEnd) {
            m_pPos = hit->m_pAfter;
            return hit->m_expr;
        }
    }
    bool hitBefore = m_bScanHitEnd;
    m_bScanHitEnd = false;

    enum class Stop { End, Semicolon, BlockEnd, Keyword, CloseParen } stop = Stop::End;
    CSspStatement stmt;
    int depth = 0;
    for (;;) {
        std::string token;
        const char* tokenStart = NextToken(token);
        if (token.empty()) {
            break;
        }
        if (SspNameEquals(token, "{d") || SspNameEquals(token, "{ts")) {
            CompleteDateLiteral(token, tokenStart);
        } else if (token == "(") {
            if (stmt.Empty() || stmt.m_classes.back() != kSspOperand) {
                ++depth;
            } else {
                stmt.m_tokens.back() += ReadParenText(stmt.m_starts.back());
                stmt.m_classes.back() = kSspCall;
                stmt.m_ends.back() = m_pPos;
            }
            continue;
        } else if (token == ")") {
            if (parenthesized && depth == 0) {
                stop = Stop::CloseParen;
                break;
            }
            if (--depth < 0) {
                throw CSspException(g_msg.m_missingOpenParen,
                                    tokenStart > m_pBegin ? tokenStart - 1 : tokenStart);
            }
            continue;
        } else if (token == ";") {
            stop = Stop::Semicolon;
            break;
        } else if (token == "}--") {
            stop = Stop::BlockEnd;
            m_pPos = tokenStart;
            break;
        } else if (IsBlockKeyword(token)) {
            stop = Stop::Keyword;
            break;
        }
        stmt.AddToken(std::move(token), tokenStart, m_pPos, depth);
    }
    if (parenthesized) {
        if (stop != Stop::CloseParen) {
            throw CSspException(g_msg.m_missingCloseParen, start);
        }
    } else {
        if (depth > 0) {
            throw CSspException(g_msg.m_missingCloseParen, start);
        }
        if (stop != Stop::Semicolon && stop != Stop::BlockEnd &&
            !(toRangeEnd && stop == Stop::End)) {
            throw CSspException(g_msg.m_missingSemicolon, start);
        }
    }
    own = CSspExpression(std::move(stmt));
    const bool store = cache != nullptr && !m_bScanHitEnd && hit == nullptr && cache->Covers(from);
    m_bScanHitEnd = m_bScanHitEnd || hitBefore;
    if (store) {
        own.m_bShared = true;
        return cache->StoreStatement(from, mode, CSspTokenCache::CStatement{std::move(own), m_pPos})
            ->m_expr;
    }
    return own;
}

void CSspScanner::SkipBlock(bool isWhile, bool stopAtBranch) {
    // block: as ScanBlock reads it, or the file's cached skip from this position
    using SkipMode = CSspTokenCache::SkipMode;
    const SkipMode mode = isWhile        ? SkipMode::ToEndWhile
                          : stopAtBranch ? SkipMode::ToBranch
                                         : SkipMode::ToEndIf;
    CSspTokenCache* cache = TokenCache();
    const char* from = m_pPos;
    const int fromKind = m_nCodeKind;
    if (cache != nullptr) {
        const CSspTokenCache::CSkip* hit = cache->FindSkip(from, mode);
        if (hit != nullptr && hit->m_nStartKind == fromKind && hit->m_pAfter <= m_pEnd) {
            m_pPos = hit->m_pAfter;
            m_nCodeKind = hit->m_nEndKind;
            return;
        }
    }
    bool hitBefore = m_bScanHitEnd;
    m_bScanHitEnd = false;
    ScanBlock(isWhile, stopAtBranch);
    if (cache != nullptr && !m_bScanHitEnd) {
        cache->StoreSkip(from, mode, CSspTokenCache::CSkip{m_pPos, fromKind, m_nCodeKind});
    }
    m_bScanHitEnd = m_bScanHitEnd || hitBefore;
}

void CSspScanner::ScanBlock(bool isWhile, bool stopAtBranch) {
    // block: ( token | literal | 'if'/'while' block )* 'endif' | 'endwhile' | 'elseif' | 'else'
    const char* skipStart = m_pPos;
    const char* open = isWhile ? "while" : "if";
    const char* close = isWhile ? "endwhile" : "endif";
    const char* missing = isWhile ? g_msg.m_missingEndwhile : g_msg.m_missingEndif;
    int nested = 0;
    for (;;) {
        if (m_nCodeKind == 0) {
            std::string literal;
            m_nCodeKind = FindCodeStart(literal);
            if (m_nCodeKind == 0) {
                throw CSspException(missing, skipStart);
            }
            continue;
        }
        std::string token;
        const char* tokenStart = NextToken(token);
        if (token.empty()) {
            throw CSspException(missing, skipStart);
        }
        if (token == "}--") {
            EndCodeBlock();
        } else if (SspNameEquals(token, open)) {
            ++nested;
        } else if (SspNameEquals(token, close)) {
            if (nested == 0) {
                if (stopAtBranch) {
                    m_pPos = tokenStart;
                }
                return;
            }
            --nested;
        } else if (stopAtBranch && nested == 0 &&
                   (SspNameEquals(token, "elseif") || SspNameEquals(token, "else"))) {
            m_pPos = tokenStart;
            return;
        }
    }
}

void CSspScanner::SkipToEndIf() {
    // if rest: ( token | literal | nested if )* 'endif'
    SkipBlock(false, false);
}

void CSspScanner::SkipToEndWhile() {
    // while rest: ( token | literal | nested while )* 'endwhile'
    SkipBlock(true, false);
}

void CSspScanner::SkipToNextBranch() {
    // branch rest: ( token | literal | nested if )* ( 'elseif' | 'else' | 'endif' )
    SkipBlock(false, true);
}

const char* CSspScanner::SkipToFunction() {
    // function search: ( token | literal )* 'function'
    // Only code is searched: "function" in literal HTML or JavaScript is text.
    for (;;) {
        if (m_nCodeKind == 0) {
            std::string literal;
            m_nCodeKind = FindCodeStart(literal);
            if (m_nCodeKind == 0) {
                return nullptr;
            }
            continue;
        }
        std::string token;
        const char* start = NextToken(token);
        if (token.empty()) {
            return nullptr;
        }
        if (token == "}--") {
            // A malformed block end is reported when the statement runs, not while searching.
            if (m_nCodeKind == 1 && PeekToken() == ">") {
                NextToken(token);
            }
            m_nCodeKind = 0;
        } else if (SspNameEquals(token, "function")) {
            return start;
        }
    }
}

bool CSspScanner::IsBlockKeyword(std::string_view token) {
    // keyword: 'if' | 'elseif' | 'else' | 'endif' | 'while' | 'endwhile'
    return SspNameEquals(token, "if") || SspNameEquals(token, "elseif") ||
           SspNameEquals(token, "else") || SspNameEquals(token, "endif") ||
           SspNameEquals(token, "while") || SspNameEquals(token, "endwhile");
}
