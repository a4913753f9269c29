#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class CSspCall;
class CSspValue;

// Splits a NUL-terminated text by a set of delimiter characters. The engine's general
// splitter (request lines, headers, paths, mail headers) and the script `tokenizer` object.
//
// The tokenizer either copies the text and delimiters, or borrows them; borrowed text and
// delimiters must outlive the tokenizer (or the next SetText). Not thread-safe.
class CTokenizer {
public:
    CTokenizer(const char* text = nullptr, const char* delimiters = nullptr, bool copy = false);
    CTokenizer(const CTokenizer&) = delete;
    CTokenizer& operator=(const CTokenizer&) = delete;

    // With a text and `copy`, text and delimiters are copied and the tokenizer reads its
    // copies; otherwise it reads the caller's. Either may be nullptr (no text, no delimiter
    // set). The position returns to 0.
    void SetText(const char* text, const char* delimiters, bool copy);

    // Moves to character `index`, but never past the end of the text.
    void SetPos(std::size_t index);
    std::size_t GetPos() const { return m_pos; }

    // True when `ch` is one of the delimiters; NUL never is.
    bool IsDelimiter(char ch) const;

    // Advances over characters of `set` (not the delimiter set). Does nothing without a text
    // or a delimiter set.
    void SkipChars(const char* set);

    // The run of delimiters or the run of other characters at the position, whichever
    // starts there; the position moves past it. Empty at the end of the text, or without a
    // text or a delimiter set.
    std::string NextToken();

    // The next run of non-delimiters, skipping delimiters before it; empty at the end.
    std::string NextPart();

    // NextPart with `delimiters` in place of the delimiter set for this call only.
    std::string NextPartBy(const char* delimiters);

    // The script members of a `tokenizer` object: "NextToken" and "NextPart" (exact case,
    // arguments ignored); `result` is the member's text. Any other member throws
    // CSspException "Unknown tokenizer field: " + member at call.m_pPos.
    void CallMethod(CSspCall& call, CSspValue& result);

    // The name a page declared this tokenizer under, and the position of the declaring
    // keyword; empty and 0 for the engine's own tokenizers. Never read by the tokenizer.
    const std::string& GetName() const { return m_name; }
    void SetName(std::string name) { m_name = std::move(name); }
    std::int32_t GetDeclPos() const { return m_declPos; }
    void SetDeclPos(std::int32_t position) { m_declPos = position; }

private:
    bool Ready() const { return m_text != nullptr && m_delimiters != nullptr; }

    std::string m_name;
    std::int32_t m_declPos = 0;
    std::string m_ownedText;
    std::string m_ownedDelimiters;
    const char* m_text = nullptr;
    const char* m_delimiters = nullptr;
    std::size_t m_pos = 0;
};
