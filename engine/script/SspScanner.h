#pragma once

#include <string>
#include <string_view>

#include "engine/script/SspKeyword.h"
#include "engine/script/SspRestoreGuard.h"
#include "engine/script/SspTokenCache.h"

class CSspExpression;
class CSspSourceFile;

// Reads the page language from a range of text: literal text and code blocks, tokens, and the
// token lists of statements and parenthesised conditions. Every operation reads from
// Position() up to End() and moves the position past what it read. What is read from the
// text of a loaded file goes through that file's token cache, so a statement that runs again
// is not scanned again. Errors are CSspException at the place in the text.
class CSspScanner {
public:
    // Where a scan stands: enough to come back to it.
    struct CMark {
        const char* m_pPos;
        const char* m_pEnd;
        int m_nCodeKind;
    };

    // Reads [begin, end) from `begin`; `codeKind` is 0 in literal text, 1 in a "<!--{"
    // block, 2 in a "--{" block.
    void Start(const char* begin, const char* end, int codeKind) {
        m_pBegin = m_pPos = begin;
        m_pEnd = end;
        m_nCodeKind = codeKind;
    }
    const char* Begin() const { return m_pBegin; }
    const char* End() const { return m_pEnd; }
    const char* Position() const { return m_pPos; }
    int CodeKind() const { return m_nCodeKind; }
    void MoveTo(const char* pos) { m_pPos = pos; }
    // Reads up to `end` from now on; the start of the range stays.
    void SetEnd(const char* end) { m_pEnd = end; }
    void SetCodeKind(int codeKind) { m_nCodeKind = codeKind; }
    CMark Mark() const { return CMark{m_pPos, m_pEnd, m_nCodeKind}; }
    void ResetTo(const CMark& mark) {
        m_pPos = mark.m_pPos;
        m_pEnd = mark.m_pEnd;
        m_nCodeKind = mark.m_nCodeKind;
    }

    // The file whose token cache keeps what is scanned in its text; none (null) for a text
    // that lives outside it, such as a watch expression.
    void UseCacheOf(CSspSourceFile* file) { m_pFile = file; }
    CSspSourceFile* CacheFile() const { return m_pFile; }
    // The cache of that file, or nullptr when there is none or it is not loaded.
    CSspTokenCache* TokenCache();

    // literal: text up to '<!--{' (kind 1) | '--{' (kind 2) | the end (kind 0). Gives the kind
    // and moves past the opener.
    int FindCodeStart(std::string& literal);
    // FindCodeStart that also ends a stretch just after each line feed (kind 0), so that a
    // debugger sees every line of literal text. Never cached.
    int FindCodeStartByLine(std::string& literal);
    // The next token (empty at the end) and where it starts. `keyword`, when given, receives
    // the statement keyword the token is.
    const char* NextToken(std::string& token, CSspKeyword* keyword = nullptr);
    // The next token without moving past it.
    std::string PeekToken();
    // After a "}--": the ">" of a "<!--{" block; leaves literal text.
    void EndCodeBlock();
    // The compiled statement read from the position: the file's cached one, or one compiled
    // into `own` when it cannot be cached.
    const CSspExpression& ReadParenthesized(CSspExpression& own);
    // What ReadParenthesized / ReadStatementTokens would give from the cache, taken (the
    // position moved past it); nullptr when the cache does not hold it, and nothing moves.
    const CSspTokenCache::CStatement* TakeCachedParenthesized();
    const CSspTokenCache::CStatement* TakeCachedStatement();
    const CSspExpression& ReadStatementTokens(CSspExpression& own);
    // Stops at the matching ")" when `parenthesized`, else at ";" or a block end; with
    // `toRangeEnd` the end of the range ends the statement too. Errors name `start`.
    const CSspExpression& ScanStatement(CSspExpression& own, bool parenthesized, const char* start,
                                        bool toRangeEnd = false);
    // Past the block that is not run: to just after "endif" / "endwhile", or to the next
    // "elseif", "else" or "endif" of this level.
    void SkipToEndIf();
    void SkipToEndWhile();
    void SkipToNextBranch();
    // Just after the next "function" keyword of code; returns its start, or nullptr.
    const char* SkipToFunction();
    static bool IsBlockKeyword(std::string_view token);

private:
    const char* ScanToken(std::string& token);
    void ScanStringLiteral(std::string& token, const char* quote);
    void SkipToLineEnd();
    std::string ReadParenText(const char* start);
    void CompleteDateLiteral(std::string& token, const char* start);
    void SkipBlock(bool isWhile, bool stopAtBranch);
    void ScanBlock(bool isWhile, bool stopAtBranch);

    const char* m_pBegin = nullptr;
    const char* m_pEnd = nullptr;
    const char* m_pPos = nullptr;
    int m_nCodeKind = 0;
    bool m_bScanHitEnd = false;  // a scan looked at the end of the range: not cacheable
    CSspSourceFile* m_pFile = nullptr;
};

// Puts the scanner back where it stood (position, end and code kind) when the guard was made.
template <>
class CSspRestoreGuard<CSspScanner> {
public:
    explicit CSspRestoreGuard(CSspScanner& scanner) : m_scanner(scanner), m_saved(scanner.Mark()) {}
    ~CSspRestoreGuard() {
        if (m_bArmed) {
            m_scanner.ResetTo(m_saved);
        }
    }
    CSspRestoreGuard(const CSspRestoreGuard&) = delete;
    CSspRestoreGuard& operator=(const CSspRestoreGuard&) = delete;

    void Restore() { m_scanner.ResetTo(m_saved); }
    void Dismiss() { m_bArmed = false; }

private:
    CSspScanner& m_scanner;
    CSspScanner::CMark m_saved;
    bool m_bArmed = true;
};
