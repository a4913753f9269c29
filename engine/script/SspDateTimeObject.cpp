#include "engine/script/SspDateTimeObject.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspValue.h"
#include "engine/script/SspCall.h"

namespace {

enum Member : int {
    kValue,
    kIsValid,
    kYear,
    kMonth,
    kDay,
    kDayOfWeek,
    kHour,
    kMinute,
    kSecond,
    kFormat,
    kFormatGmt,
    kDateStr,
    kDateStr2,
    kTimeStr,
    kDateTimeStr,
    kDateTimeStr2,
    kOdbcDateStr,
    kOdbcDateTimeStr,
    kHttpDateTimeStr,
    kAddDay,
    kAddWeek,
    kAddMonth,
    kAddQuarter,
    kCopy,
};

constexpr CSspMember kMembers[] = {
    {"", 0, kValue},
    {"isValid", 0, kIsValid},
    {"getYear", 0, kYear},
    {"getMonth", 0, kMonth},
    {"getDay", 0, kDay},
    {"getDayOfWeek", 0, kDayOfWeek},
    {"getHour", 0, kHour},
    {"getMinute", 0, kMinute},
    {"getSecond", 0, kSecond},
    {"format", 1, kFormat},
    {"formatGmt", 1, kFormatGmt},
    {"getDateStr", 0, kDateStr},
    {"getDateStr2", 0, kDateStr2},
    {"getTimeStr", 0, kTimeStr},
    {"getDateTimeStr", 0, kDateTimeStr},
    {"getDateTimeStr2", 0, kDateTimeStr2},
    {"getOdbcDateStr", 0, kOdbcDateStr},
    {"getOdbcDateTimeStr", 0, kOdbcDateTimeStr},
    {"getHttpDateTimeStr", 0, kHttpDateTimeStr},
    {"addDay", 1, kAddDay},
    {"addWeek", 1, kAddWeek},
    {"addMonth", 1, kAddMonth},
    {"addQuarter", 1, kAddQuarter},
    {"copy", 1, kCopy},
};

}  // namespace

std::span<const CSspMember> CSspDateTimeObject::Members() {
    return kMembers;
}

void CSspDateTimeObject::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    const CSspMember& member = DispatchSspMember(kMembers, call, g_msg.m_unknownDateTimeField);
    auto count = [&call]() -> int64_t { return CSspValue::TextToInt(call.GetParamStr(0)); };
    switch (member.m_id) {
        case kValue:
            break;
        case kIsValid:
            result = CSspValue::FromInteger(m_value.IsValid() ? 1 : 0);
            return;
        case kYear:
            result = CSspValue::FromInteger(m_value.GetYear());
            return;
        case kMonth:
            result = CSspValue::FromInteger(m_value.GetMonth());
            return;
        case kDay:
            result = CSspValue::FromInteger(m_value.GetDay());
            return;
        case kDayOfWeek:
            result = CSspValue::FromInteger(m_value.GetDayOfWeek());
            return;
        case kHour:
            result = CSspValue::FromInteger(m_value.GetHour());
            return;
        case kMinute:
            result = CSspValue::FromInteger(m_value.GetMinute());
            return;
        case kSecond:
            result = CSspValue::FromInteger(m_value.GetSecond());
            return;
        case kFormat:
            result = CSspValue::FromText(m_value.Format(call.GetParamStr(0)));
            return;
        case kFormatGmt:
            result = CSspValue::FromText(m_value.FormatGmt(call.GetParamStr(0)));
            return;
        case kDateStr:
            result = CSspValue::FromText(m_value.GetDateStr());
            return;
        case kDateStr2:
            result = CSspValue::FromText(m_value.GetDateStr2());
            return;
        case kTimeStr:
            result = CSspValue::FromText(m_value.GetTimeStr());
            return;
        case kDateTimeStr:
            result = CSspValue::FromText(m_value.GetDateTimeStr());
            return;
        case kDateTimeStr2:
            result = CSspValue::FromText(m_value.GetDateTimeStr2());
            return;
        case kOdbcDateStr:
            result = CSspValue::FromText(m_value.GetOdbcDateStr());
            return;
        case kOdbcDateTimeStr:
            result = CSspValue::FromText(m_value.GetOdbcDateTimeStr());
            return;
        case kHttpDateTimeStr:
            result = CSspValue::FromText(m_value.GetHttpDateTimeStr());
            return;
        case kAddDay:
            m_value.AddDays(count());
            break;
        case kAddWeek:
            m_value.AddWeeks(count());
            break;
        case kAddMonth:
            m_value.AddMonths(count());
            break;
        case kAddQuarter:
            m_value.AddQuarters(count());
            break;
        case kCopy:
            m_value.SetTime(call.Arg(0).GetDateTime());
            break;
    }
    result = CSspValue::FromDateTime(m_value.GetTime(), kSqlDate);
}
