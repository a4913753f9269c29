#include "engine/script/SspTo.h"

#include <algorithm>
#include <random>
#include <utility>
#include <vector>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/HtmlCodec.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspDateTime.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/UrlCodec.h"

CSspTo g_sspTo;

namespace {

int IntArg(const CSspCall& call, size_t index) {
    return CSspValue::TextToInt(call.GetParamStr(index));
}

// An integer read from text; an empty text is the integer NULL.
CSspValue IntegerOfText(std::string_view text) {
    return CSspValue::FromInteger(text.empty() ? kNullInteger : CSspValue::TextToInt(text));
}

using CSelf = CSspTo;

void Cgi(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(UrlEncode(call.GetParamStr(0)));
}
void Html(CSspCall& call, CSspValue& result) {
    std::string text = call.GetParamStr(0);
    result = CSspValue::FromText(text.empty() ? "None" : CSelf::HtmlEscape(text, true));
}
void Html2(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSelf::HtmlEscape(call.GetParamStr(0), false));
}
// Members that map the first argument's text to a text.
template <std::string (*convert)(std::string_view)>
void Text(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(convert(call.GetParamStr(0)));
}
void Integer(CSspCall& call, CSspValue& result) {
    result = IntegerOfText(call.GetParamStr(0));
}
void Number(CSspCall& call, CSspValue& result) {
    CSspValue number;
    if (call.ArgCount() > 1) {
        number.SetNumber(call.GetParamStr(0), call.GetParamStr(1));
    } else {
        number.SetNumber(call.GetParamStr(0));
    }
    result = std::move(number);
}
void OdbcDate(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSspDateTime(call.GetParamStr(0)).GetOdbcDateStr());
}
void OdbcDateTime(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSspDateTime(call.GetParamStr(0)).GetOdbcDateTimeStr());
}
void Hours(CSspCall& call, CSspValue& result) {
    result = CSelf::Hours(call.Arg(0), call.ArgCount() > 1 ? call.GetParamStr(1) : "");
}
void Minutes(CSspCall& call, CSspValue& result) {
    result = CSelf::Minutes(call.Arg(0));
}
void TimeSpan(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromTimeSpan(CSelf::SpanSeconds(IntArg(call, 0), IntArg(call, 1),
                                                        IntArg(call, 2),
                                                        call.ArgCount() > 3 ? IntArg(call, 3) : 0));
}
void Hex(CSspCall& call, CSspValue& result) {
    const CSspValue& value = call.Arg(0);
    result = CSspValue::FromText(value.IsBinary() ? CSelf::Hex(value.m_blob.View())
                                                  : CSelf::Hex(call.GetParamStr(0)));
}

constexpr int kAny = kSspAnyArgs;
// fileUrl has no handler here: its count is checked, then it goes to the cipher handler.
constexpr CSspTo::MemberRow kTable[] = {
    {"cgi", 1, kAny, &Cgi},
    {"html", 1, kAny, &Html},
    {"html2", 1, kAny, &Html2},
    {"2QuoteStr", 1, kAny, &Text<&CSelf::DoubleQuotes>},
    {"sql", 1, kAny, &Text<&CSelf::DoubleQuotes>},
    {"js", 1, kAny, &Text<&CSelf::EscapeForJs>},
    {"upper", 1, kAny, &Text<&AsciiUpperCopy>},
    {"lower", 1, kAny, &Text<&AsciiLowerCopy>},
    {"Integer", 1, kAny, &Integer},
    {"Number", 1, kAny, &Number},
    {"OdbcDateStr", 1, kAny, &OdbcDate},
    {"OdbcDateTimeStr", 1, kAny, &OdbcDateTime},
    {"Hours", 1, kAny, &Hours},
    {"Minutes", 1, kAny, &Minutes},
    {"TimeSpan", 3, kAny, &TimeSpan},
    {"Encrypted", 1, kAny, &Text<&CSelf::Encrypted>},
    {"Decrypted", 1, kAny, &Text<&CSelf::Decrypted>},
    {"hex", 1, kAny, &Hex},
    {"dec", 1, kAny, &Text<&CSelf::Dec>},
    {"fileUrl", 5, kAny, nullptr},
};

}  // namespace

const CSspTo::MemberRow* CSspTo::FindMember(std::string_view name) {
    return FindSspMemberRow(kTable, name);
}

void CSspTo::CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) {
    const MemberRow* row = FindMember(call.m_strMember);
    if (row != nullptr && row->m_handler != nullptr) {
        CallSspMemberRowCatchingNoMemory(*row, call, result);
        return;
    }
    if (row != nullptr) {
        CheckSspArgCount(call, row->m_minArgs, row->m_maxArgs);
    }
    // fileUrl and the cipher members belong to the cipher handler.
    if (m_pCipher != nullptr && m_pCipher->CallMethod(interp, call, result)) {
        return;
    }
    throw CSspException(std::string(g_msg.m_unknownToFunction) + call.m_strMember, call.m_pPos);
}

CSspValue CSspTo::Hours(const CSspValue& value, std::string_view decimals) {
    if (value.IsNumber()) {
        return value;
    }
    CSspValue hours;
    if (value.IsTimeSpan()) {
        int64_t minutes = value.m_timeSpan / 60;
        hours.SetNumber(
            CSspValue::DoubleToText(static_cast<double>(minutes) * 0.016666666666666666), decimals);
    } else {
        hours.SetNumber(value.GetText(), decimals);
    }
    return hours;
}

CSspValue CSspTo::Minutes(const CSspValue& value) {
    if (value.IsNumber()) {
        return CSspValue::FromInteger(value.GetInteger());
    }
    if (value.IsTimeSpan()) {
        return CSspValue::FromInteger(static_cast<int32_t>(value.m_timeSpan / 60));
    }
    return IntegerOfText(value.GetText());
}

std::string CSspTo::Encrypted(std::string_view text) {
    if (text.empty()) {
        return std::string();
    }
    // One generator per thread, seeded once: a clock seed would repeat within a second.
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> draw(0, 19);
    std::string plain(1, static_cast<char>('a' + draw(generator)));
    plain += text;
    SwapCharPairs(plain);
    std::string coded;
    Base64Encode(plain.data(), plain.size(), coded);
    SwapCharPairs(coded);
    return coded;
}

std::string CSspTo::Decrypted(std::string_view text) {
    if (text.empty()) {
        return std::string();
    }
    std::string coded(text);
    SwapCharPairs(coded);
    std::vector<char> buffer(coded.size() + 1);
    long count = 0;
    Base64Decode(coded.c_str(), buffer.data(), static_cast<long>(buffer.size()), count, true);
    buffer.back() = '\0';
    std::string plain(buffer.data());
    SwapCharPairs(plain);
    return plain.size() < 2 ? std::string() : plain.substr(1);
}

std::string CSspTo::HtmlEscape(std::string_view text, bool lineBreaks) {
    std::string out(text);
    ::HtmlEscape(out, lineBreaks);
    return out;
}

std::string CSspTo::DoubleQuotes(std::string_view text) {
    return DoubledChar(text, '\'');
}

std::string CSspTo::EscapeForJs(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\'':
                out += "\\'";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '<':  // "</script>" must not end the page's script block
                out += "\\x3c";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string CSspTo::Hex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char ch : bytes) {
        out += ByteToHex(static_cast<unsigned char>(ch));
    }
    return out;
}

std::string CSspTo::Dec(std::string_view text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 3) {
        out += HexPairToByte(text.substr(i, 2));
    }
    return out;
}

int64_t CSspTo::SpanSeconds(int days, int hours, int minutes, int seconds) {
    return int64_t{days} * 86400 + int64_t{hours} * 3600 + int64_t{minutes} * 60 + seconds;
}
