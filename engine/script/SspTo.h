#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/foundation/SspValue.h"
#include "engine/script/SspObject.h"

// The members of the To object that the conversion members leave to another handler (the
// cipher functions and attachment URLs). Until one is installed those names raise the To
// object's unknown-function text.
class CSspToCipherMembers {
public:
    virtual ~CSspToCipherMembers() = default;
    // Handles call.m_strMember when it is one of its own and returns true; false leaves it
    // unknown.
    virtual bool CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) = 0;
};

// The script's To object: conversions between texts, numbers, dates and spans. One
// process-wide instance; the conversion members keep no state and run on any thread.
class CSspTo : public CSspObject {
public:
    // Runs call.m_strMember (any case) with the call's arguments and fills `result`. Every
    // conversion member needs at least one argument ("Missing parameter."); TimeSpan needs
    // three and fileUrl five. An unknown member raises the To object's unknown-function text
    // followed by the member name. Errors carry the call's position.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // A row of the conversion member table; its handler needs nothing but the call.
    using MemberRow = CSspMemberRow<>;
    // The conversion member named `name` (any case), or nullptr. fileUrl's row has no handler.
    static const MemberRow* FindMember(std::string_view name);

    // Installs the handler of the cipher members and fileUrl (nullptr removes it). It must
    // outlive its installation; install before pages run.
    void SetCipherMembers(CSspToCipherMembers* handler) { m_pCipher = handler; }

    // HTML form: & < > and the double quote become entities. With `lineBreaks`, CR is dropped
    // and LF becomes "<br>" CR LF; a text that needs no entity or line break is returned as is.
    static std::string HtmlEscape(std::string_view text, bool lineBreaks);

    // Every "'" doubled (SQL).
    static std::string DoubleQuotes(std::string_view text);
    // Safe inside a JavaScript string literal: ' and \ take a backslash, CR and LF become \r
    // and \n, and < becomes \x3c; other text is unchanged.
    static std::string EscapeForJs(std::string_view text);

    // The reversible scrambling of a text: a random letter 'a'..'t' in front, adjacent
    // characters swapped, Base64 (CR LF every 76 characters), pairs swapped again. An empty
    // text stays empty. Decrypted(Encrypted(t)) == t for every text without a NUL.
    static std::string Encrypted(std::string_view text);
    static std::string Decrypted(std::string_view text);

    // Two lower-case hex digits per byte, no separators.
    static std::string Hex(std::string_view bytes);

    // Hex pairs read at positions 0-1, 3-4, 6-7, ... (one separator between pairs), as long
    // as a whole pair remains, each the byte HexPairToByte makes of it: nothing is an error.
    static std::string Dec(std::string_view text);

    // To.Hours: a number is kept; a span gives its whole minutes / 60, otherwise the text is
    // read, as SetNumber with `decimals` ("" when absent: an integer of whole hours).
    static CSspValue Hours(const CSspValue& value, std::string_view decimals);
    // To.Minutes: a number's integer, a span's whole minutes, else the integer of the text
    // (the integer NULL for an empty text).
    static CSspValue Minutes(const CSspValue& value);

    // days * 86400 + hours * 3600 + minutes * 60 + seconds, in 64 bits.
    static int64_t SpanSeconds(int days, int hours, int minutes, int seconds);

private:
    CSspToCipherMembers* m_pCipher = nullptr;
};

// The process-wide To object.
extern CSspTo g_sspTo;
