#include "engine/script/SspDateTimeObject.h"

#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspCall.h"
#include "engine/foundation/SspValue.h"

namespace {

using CSelf = CSspDateTimeObject;

// Members that give the date value, as the empty member does and the moves do after moving.
void GiveDate(CSelf& self, CSspValue& result) {
    result = CSspValue::FromDateTime(self.m_value.GetTime(), kSqlDate);
}

template <auto get>
void Integer(CSelf& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromInteger((self.m_value.*get)());
}
template <auto get>
void Text(CSelf& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromText((self.m_value.*get)());
}
template <auto format>
void Formatted(CSelf& self, CSspCall& call, CSspValue& result) {
    result = CSspValue::FromText((self.m_value.*format)(call.GetParamStr(0)));
}
// addDay(n) and the like: moves by n and gives the new date value.
template <auto add>
void Move(CSelf& self, CSspCall& call, CSspValue& result) {
    (self.m_value.*add)(CSspValue::TextToInt(call.GetParamStr(0)));
    GiveDate(self, result);
}

void Value(CSelf& self, CSspCall&, CSspValue& result) {
    GiveDate(self, result);
}
void IsValid(CSelf& self, CSspCall&, CSspValue& result) {
    result = CSspValue::FromInteger(self.m_value.IsValid() ? 1 : 0);
}
void Copy(CSelf& self, CSspCall& call, CSspValue& result) {
    self.m_value.SetTime(call.Arg(0).GetDateTime());
    GiveDate(self, result);
}

using D = CSspDateTime;
constexpr int kAny = kSspAnyArgs;
constexpr CSspMemberRow<CSelf&> kTable[] = {
    {"", 0, kAny, &Value},
    {"isValid", 0, kAny, &IsValid},
    {"getYear", 0, kAny, &Integer<&D::GetYear>},
    {"getMonth", 0, kAny, &Integer<&D::GetMonth>},
    {"getDay", 0, kAny, &Integer<&D::GetDay>},
    {"getDayOfWeek", 0, kAny, &Integer<&D::GetDayOfWeek>},
    {"getHour", 0, kAny, &Integer<&D::GetHour>},
    {"getMinute", 0, kAny, &Integer<&D::GetMinute>},
    {"getSecond", 0, kAny, &Integer<&D::GetSecond>},
    {"format", 1, kAny, &Formatted<&D::Format>},
    {"formatGmt", 1, kAny, &Formatted<&D::FormatGmt>},
    {"getDateStr", 0, kAny, &Text<&D::GetDateStr>},
    {"getDateStr2", 0, kAny, &Text<&D::GetDateStr2>},
    {"getTimeStr", 0, kAny, &Text<&D::GetTimeStr>},
    {"getDateTimeStr", 0, kAny, &Text<&D::GetDateTimeStr>},
    {"getDateTimeStr2", 0, kAny, &Text<&D::GetDateTimeStr2>},
    {"getOdbcDateStr", 0, kAny, &Text<&D::GetOdbcDateStr>},
    {"getOdbcDateTimeStr", 0, kAny, &Text<&D::GetOdbcDateTimeStr>},
    {"getHttpDateTimeStr", 0, kAny, &Text<&D::GetHttpDateTimeStr>},
    {"addDay", 1, kAny, &Move<&D::AddDays>},
    {"addWeek", 1, kAny, &Move<&D::AddWeeks>},
    {"addMonth", 1, kAny, &Move<&D::AddMonths>},
    {"addQuarter", 1, kAny, &Move<&D::AddQuarters>},
    {"copy", 1, kAny, &Copy},
};

}  // namespace

void CSspDateTimeObject::CallMethod(CSspInterpreter&, CSspCall& call, CSspValue& result) {
    DispatchSspMemberRow(kTable, call, result, g_msg.m_unknownDateTimeField, *this);
}
