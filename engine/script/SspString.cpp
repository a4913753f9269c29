#include "engine/script/SspString.h"

#include <algorithm>
#include <new>
#include <random>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspException.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"

CSspString g_sspString;

namespace {

enum Member : int {
    kIsValidDateTime,
    kIsValidNumber,
    kTrim,
    kFindOneOf,
    kFindString,
    kLength,
    kSubstring,
    kRandom,
    kLeft,
    kRight,
};

constexpr CSspMember kMembers[] = {
    {"IsValidDateTime", 0, kIsValidDateTime},
    {"IsValidNumber", 0, kIsValidNumber},
    {"trim", 1, kTrim},
    {"FindOneOf", 2, kFindOneOf},
    {"FindString", 2, kFindString},
    {"length", 1, kLength},
    {"substring", 3, kSubstring},
    {"mid", 3, kSubstring},
    {"random", 0, kRandom},
    {"left", 2, kLeft},
    {"right", 2, kRight},
};

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

}  // namespace

std::span<const CSspMember> CSspString::Members() {
    return kMembers;
}

void CSspString::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    const CSspMember& member = DispatchSspMember(kMembers, call, g_msg.m_unknownStringFunction);
    RunMember(member.m_id, call, result);
}

void CSspString::RunMember(int id, CSspCall& call, CSspValue& result) {
    // A page can ask for more than memory holds (a huge count or text); that is a script
    // error, not the end of the process.
    try {
        RunChecked(id, call, result);
    } catch (const std::bad_alloc&) {
        throw CSspException(g_msg.m_outOfMemory, call.m_pPos);
    }
}

void CSspString::RunChecked(int id, CSspCall& call, CSspValue& result) {
    switch (id) {
        case kIsValidDateTime:
            result = CSspValue::FromInteger(CheckOptionalArg(call, &CSspValue::HasDateTime));
            break;
        case kIsValidNumber:
            result = CSspValue::FromInteger(CheckOptionalArg(call, &CSspValue::IsNumeric));
            break;
        case kTrim:
            result = CSspValue::FromText(Trim(call.GetParamStr(0)));
            break;
        case kFindOneOf:
            result = CSspValue::FromInteger(FindOneOf(call.GetParamStr(0), call.GetParamStr(1)));
            break;
        case kFindString: {
            int start = call.ArgCount() > 2 ? IntArg(call, 2) : 1;
            result =
                CSspValue::FromInteger(FindString(call.GetParamStr(0), call.GetParamStr(1), start));
            break;
        }
        case kLength:
            result = CSspValue::FromInteger(static_cast<int32_t>(call.GetParamStr(0).size()));
            break;
        case kSubstring:
            result = CSspValue::FromText(
                SubString(call.GetParamStr(0), IntArg(call, 1), IntArg(call, 2)));
            break;
        case kRandom:
            result = CSspValue::FromText(Random(call.ArgCount() > 0 ? IntArg(call, 0) : 0));
            break;
        case kLeft:
            result = CSspValue::FromText(Left(call.GetParamStr(0), IntArg(call, 1)));
            break;
        case kRight:
            result = CSspValue::FromText(Right(call.GetParamStr(0), IntArg(call, 1)));
            break;
    }
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
