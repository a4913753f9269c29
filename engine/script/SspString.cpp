#include "engine/script/SspString.h"

#include <algorithm>
#include <random>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"

CSspString g_sspString;

namespace {

int IntArg(const CSspCall& call, size_t index) {
    return CSspValue::TextToInt(call.GetParamStr(index));
}

// 1 for no argument or an empty text, else whether the value passes `test`.
int CheckOptionalArg(const CSspCall& call, bool (CSspValue::*test)() const) {
    if (call.ArgCount() == 0 || call.GetParamStr(0).empty()) {
        return 1;
    }
    return (call.Arg(0).*test)() ? 1 : 0;
}

using CSelf = CSspString;

void IsValidDateTime(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromInteger(CheckOptionalArg(call, &CSspValue::HasDateTime));
}
void IsValidNumber(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromInteger(CheckOptionalArg(call, &CSspValue::IsNumeric));
}
void Trim(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSelf::Trim(call.GetParamStr(0)));
}
void FindOneOf(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromInteger(CSelf::FindOneOf(call.GetParamStr(0), call.GetParamStr(1)));
}
void FindString(CSspCall& call, CSspValue& result) {
    int start = call.ArgCount() > 2 ? IntArg(call, 2) : 1;
    result =
        CSspValue::FromInteger(CSelf::FindString(call.GetParamStr(0), call.GetParamStr(1), start));
}
void Length(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromInteger(static_cast<int32_t>(call.GetParamStr(0).size()));
}
void SubString(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(
        CSelf::SubString(call.GetParamStr(0), IntArg(call, 1), IntArg(call, 2)));
}
void Random(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSelf::Random(call.ArgCount() > 0 ? IntArg(call, 0) : 0));
}
void Left(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSelf::Left(call.GetParamStr(0), IntArg(call, 1)));
}
void Right(CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText(CSelf::Right(call.GetParamStr(0), IntArg(call, 1)));
}

constexpr int kAny = kSspAnyArgs;
constexpr CSspString::MemberRow kTable[] = {
    {"IsValidDateTime", 0, kAny, &IsValidDateTime},
    {"IsValidNumber", 0, kAny, &IsValidNumber},
    {"trim", 1, kAny, &Trim},
    {"FindOneOf", 2, kAny, &FindOneOf},
    {"FindString", 2, kAny, &FindString},
    {"length", 1, kAny, &Length},
    {"substring", 3, kAny, &SubString},
    {"mid", 3, kAny, &SubString},
    {"random", 0, kAny, &Random},
    {"left", 2, kAny, &Left},
    {"right", 2, kAny, &Right},
};

}  // namespace

const CSspString::MemberRow* CSspString::FindMember(std::string_view name) {
    return FindSspMemberRow(kTable, name);
}

void CSspString::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    const MemberRow* row = FindMember(call.m_strMember);
    if (row == nullptr) {
        ThrowUnknownSspMember(call, g_msg.m_unknownStringFunction);
    }
    CallSspMemberRowCatchingNoMemory(*row, call, result);
}

std::string CSspString::Trim(std::string_view text) {
    return std::string(TrimAsciiSpace(text));
}

int CSspString::FindOneOf(std::string_view text, std::string_view chars) {
    if (chars.empty()) {
        return 0;
    }
    size_t pos = text.find_first_of(chars);
    return pos == std::string_view::npos ? 0 : static_cast<int>(pos) + 1;
}

int CSspString::FindString(std::string_view text, std::string_view sought, int start) {
    size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    if (from > text.size()) {
        return 0;
    }
    size_t pos = text.find(sought, from);
    return pos == std::string_view::npos ? 0 : static_cast<int>(pos) + 1;
}

std::string CSspString::SubString(std::string_view text, int start, int count) {
    size_t from = start < 1 ? 0 : static_cast<size_t>(start) - 1;
    if (from >= text.size() || count < 0) {
        return std::string();
    }
    return std::string(text.substr(from, static_cast<size_t>(count)));
}

std::string CSspString::Left(std::string_view text, int n) {
    if (n < 1) {
        return std::string();
    }
    return std::string(text.substr(0, static_cast<size_t>(n)));
}

std::string CSspString::Right(std::string_view text, int n) {
    if (n < 1) {
        return std::string();
    }
    size_t keep = std::min(text.size(), static_cast<size_t>(n));
    return std::string(text.substr(text.size() - keep));
}

std::string CSspString::Random(int digits) {
    // Reseeding from the clock on every call would repeat the number for a whole second.
    thread_local std::mt19937 generator{std::random_device{}()};
    std::uniform_int_distribution<int> draw(0, 32767);
    std::string number = std::to_string(draw(generator));
    if (digits <= 0) {
        return number;
    }
    size_t width = static_cast<size_t>(digits);
    if (number.size() < width) {
        return std::string(width - number.size(), '0') + number;
    }
    return number.substr(number.size() - width);
}
