#include "engine/foundation/SspValue.h"

#include <locale.h>
#include <stdlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <compare>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

#include "engine/foundation/AsciiSpace.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/SspDateTime.h"

namespace {

// A script may ask for any number of decimals; beyond this many the digits carry no
// information and only cost memory.
constexpr int kMaxDecimals = 1000;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

locale_t CLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    return locale;
}

std::string IntToText(std::int64_t n) {
    char buf[32];
    const auto result = std::to_chars(buf, buf + sizeof buf, n);
    return std::string(buf, result.ptr);
}

// 32-bit results wrap, as the machine's own arithmetic would without the undefined behaviour.
std::int32_t Wrap32(std::int64_t n) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uint64_t>(n)));
}

std::int64_t SaturatingAdd(std::int64_t a, std::int64_t b) {
    std::int64_t sum = 0;
    if (__builtin_add_overflow(a, b, &sum)) {
        return b < 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
    }
    return sum;
}

std::int64_t SaturatingSub(std::int64_t a, std::int64_t b) {
    std::int64_t diff = 0;
    if (__builtin_sub_overflow(a, b, &diff)) {
        return b > 0 ? std::numeric_limits<std::int64_t>::min()
                     : std::numeric_limits<std::int64_t>::max();
    }
    return diff;
}

enum class Arith { kAdd, kSub, kMul, kDiv };

// Arithmetic in the operand type T; dividing by zero is refused.
template <typename T>
bool Arithmetic(T a, T b, Arith op, T* out) {
    switch (op) {
        case Arith::kAdd:
            *out = a + b;
            return true;
        case Arith::kSub:
            *out = a - b;
            return true;
        case Arith::kMul:
            *out = a * b;
            return true;
        case Arith::kDiv:
            if (b == 0) {
                return false;
            }
            *out = a / b;
            return true;
    }
    return false;
}

// 32-bit integer arithmetic, worked in 64 bits and wrapped; the one quotient that does not fit
// (the least integer by -1) is refused like a zero divisor.
bool IntArith(std::int32_t a, std::int32_t b, Arith op, std::int32_t* out) {
    if (op == Arith::kDiv && a == std::numeric_limits<std::int32_t>::min() && b == -1) {
        return false;
    }
    std::int64_t wide = 0;
    if (!Arithmetic<std::int64_t>(a, b, op, &wide)) {
        return false;
    }
    *out = Wrap32(wide);
    return true;
}

enum class NumClass { kInteger, kReal, kDouble, kDecimal };

NumClass ClassOf(const CSspValue& v) {
    if (v.IsInteger()) {
        return NumClass::kInteger;
    }
    if (v.IsReal()) {
        return NumClass::kReal;
    }
    if (v.IsDouble()) {
        return NumClass::kDouble;
    }
    return NumClass::kDecimal;
}

// A decimal result: the integer form when there are no decimals, else printed with them.
bool DecimalArith(int decimals, Arith op, std::int32_t leftInt, std::int32_t rightInt, double leftD,
                  double rightD, std::string* out) {
    if (decimals == 0) {
        std::int32_t n = 0;
        if (!IntArith(leftInt, rightInt, op, &n)) {
            return false;
        }
        *out = IntToText(n);
        return true;
    }
    double d = 0;
    if (!Arithmetic(leftD, rightD, op, &d)) {
        return false;
    }
    *out = CSspValue::DoubleToText(d, decimals);
    return true;
}

// The arithmetic of two operands that are numbers or are read as numbers: an operand of another
// type is first made a number from its text. The result's type follows the pair of classes.
int NumericPair(const CSspValue& left0, const CSspValue& right0, Arith op, CSspValue* out) {
    CSspValue leftConverted;
    CSspValue rightConverted;
    const CSspValue* pl = &left0;
    const CSspValue* pr = &right0;
    if (!left0.IsNumber()) {
        leftConverted.SetNumber(left0.GetText());
        pl = &leftConverted;
    }
    if (!right0.IsNumber()) {
        rightConverted.SetNumber(right0.GetText());
        pr = &rightConverted;
    }
    const CSspValue& l = *pl;
    const CSspValue& r = *pr;
    CSspValue result;
    bool ok = false;
    switch (ClassOf(l)) {
        case NumClass::kInteger:
            switch (ClassOf(r)) {
                case NumClass::kInteger:
                    result.m_type = r.m_type;
                    ok = IntArith(l.m_integer, r.m_integer, op, &result.m_integer);
                    break;
                case NumClass::kReal:
                    result.m_type = r.m_type;
                    ok = Arithmetic(static_cast<float>(l.m_integer), r.m_real, op, &result.m_real);
                    break;
                case NumClass::kDouble:
                    result.m_type = r.m_type;
                    ok = Arithmetic(static_cast<double>(l.m_integer), r.m_double, op,
                                    &result.m_double);
                    break;
                case NumClass::kDecimal:
                    result.m_type = r.m_type;
                    result.m_decimals = r.m_decimals;
                    ok = DecimalArith(r.m_decimals, op, l.m_integer, r.GetInteger(),
                                      static_cast<double>(l.m_integer), r.GetDouble(),
                                      &result.m_text);
                    break;
            }
            break;
        case NumClass::kReal:
            switch (ClassOf(r)) {
                case NumClass::kInteger:
                    result.m_type = l.m_type;
                    ok = Arithmetic(l.m_real, static_cast<float>(r.m_integer), op, &result.m_real);
                    break;
                case NumClass::kReal:
                    result.m_type = r.m_type;
                    ok = Arithmetic(l.m_real, r.m_real, op, &result.m_real);
                    break;
                case NumClass::kDouble:
                    result.m_type = r.m_type;
                    ok =
                        Arithmetic(static_cast<double>(l.m_real), r.m_double, op, &result.m_double);
                    break;
                case NumClass::kDecimal: {
                    result.m_type = l.m_type;
                    double d = 0;
                    ok = Arithmetic(static_cast<double>(l.m_real), r.GetDouble(), op, &d);
                    result.m_real = static_cast<float>(d);
                    break;
                }
            }
            break;
        case NumClass::kDouble:
            switch (ClassOf(r)) {
                case NumClass::kInteger:
                    result.m_type = l.m_type;
                    ok = Arithmetic(l.m_double, static_cast<double>(r.m_integer), op,
                                    &result.m_double);
                    break;
                case NumClass::kReal:
                    result.m_type = l.m_type;
                    ok =
                        Arithmetic(l.m_double, static_cast<double>(r.m_real), op, &result.m_double);
                    break;
                case NumClass::kDouble:
                    result.m_type = r.m_type;
                    ok = Arithmetic(l.m_double, r.m_double, op, &result.m_double);
                    break;
                case NumClass::kDecimal:
                    result.m_type = l.m_type;
                    ok = Arithmetic(l.m_double, r.GetDouble(), op, &result.m_double);
                    break;
            }
            break;
        case NumClass::kDecimal:
            switch (ClassOf(r)) {
                case NumClass::kInteger:
                    result.m_type = l.m_type;
                    result.m_decimals = l.m_decimals;
                    ok = DecimalArith(l.m_decimals, op, l.GetInteger(), r.m_integer, l.GetDouble(),
                                      static_cast<double>(r.m_integer), &result.m_text);
                    break;
                case NumClass::kReal: {
                    result.m_type = r.m_type;
                    double d = 0;
                    ok = Arithmetic(l.GetDouble(), static_cast<double>(r.m_real), op, &d);
                    result.m_real = static_cast<float>(d);
                    break;
                }
                case NumClass::kDouble:
                    result.m_type = r.m_type;
                    ok = Arithmetic(l.GetDouble(), r.m_double, op, &result.m_double);
                    break;
                case NumClass::kDecimal: {
                    result.m_type = l.m_type;
                    result.m_decimals = std::max(l.m_decimals, r.m_decimals);
                    ok = DecimalArith(result.m_decimals, op, l.GetInteger(), r.GetInteger(),
                                      l.GetDouble(), r.GetDouble(), &result.m_text);
                    break;
                }
            }
            break;
    }
    if (!ok) {
        return kOpNotAllowed;
    }
    *out = std::move(result);
    return kOpOk;
}

CSspValue JoinedText(const CSspValue& left, const CSspValue& right, int type) {
    CSspValue v;
    v.m_type = type;
    v.m_text = left.GetText() + right.GetText();
    return v;
}

// "-?digits[.digits]": the only decimal text that may reach SQL without quotes.
bool IsPlainNumber(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && text[i] == '-') {
        ++i;
    }
    const std::size_t intStart = i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    if (i == intStart) {
        return false;
    }
    if (i == text.size()) {
        return true;
    }
    if (text[i] != '.') {
        return false;
    }
    const std::size_t fracStart = ++i;
    while (i < text.size() && IsDigit(text[i])) {
        ++i;
    }
    return i > fracStart && i == text.size();
}

std::string Quoted(std::string_view text) {
    return "'" + CSspValue::EscapeSqlQuotes(text) + "'";
}

template <typename T>
std::partial_ordering Order(const T& a, const T& b) {
    return a <=> b;
}

bool OrderSatisfies(std::string_view op, std::partial_ordering order) {
    if (op == "=" || op == "==") {
        return order == 0;
    }
    if (op == "<>" || op == "!=") {
        return order != 0;
    }
    if (op == ">=") {
        return order >= 0;
    }
    if (op == "<=") {
        return order <= 0;
    }
    if (op == ">") {
        return order > 0;
    }
    if (op == "<") {
        return order < 0;
    }
    return false;
}

}  // namespace

const char* SspOperatorErrorText(int code) {
    switch (code) {
        case kOpNeedTimeSpan:
            return g_msg.m_rightNotTimeSpan;
        case kOpNeedDateTime:
            return g_msg.m_rightNotDateTime;
        case kOpNeedSpanOrDateTime:
            return g_msg.m_rightNotSpanOrDateTime;
        case kOpNotAllowed:
            return g_msg.m_operationNotAllowed;
        default:
            return nullptr;
    }
}

// ---- CLongBinary ----

CLongBinary::CLongBinary(CLongBinary&& other) noexcept
    : m_block(std::move(other.m_block)), m_length(std::exchange(other.m_length, 0)) {
    other.m_block.clear();
}

CLongBinary& CLongBinary::operator=(CLongBinary&& other) noexcept {
    if (this != &other) {
        m_block = std::move(other.m_block);
        m_length = std::exchange(other.m_length, 0);
        other.m_block.clear();
    }
    return *this;
}

bool CLongBinary::Assign(const void* bytes, std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    if (m_block.size() < n) {
        std::vector<unsigned char> block;
        try {
            block.resize(n);
        } catch (const std::bad_alloc&) {
            return false;
        }
        m_block.swap(block);
    }
    if (n > 0) {
        std::memmove(m_block.data(), bytes, n);
    }
    m_length = static_cast<std::uint32_t>(n);
    return true;
}

bool CLongBinary::Reserve(std::size_t n) {
    if (n > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    if (m_block.size() >= n) {
        return true;
    }
    try {
        m_block.resize(n);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void CLongBinary::Free() {
    std::vector<unsigned char>().swap(m_block);
    m_length = 0;
}

void CLongBinary::Swap(CLongBinary& other) noexcept {
    m_block.swap(other.m_block);
    std::swap(m_length, other.m_length);
}

// ---- construction and state ----

void CSspValue::ReleaseHeldStorage() {
    if (m_text.capacity() > std::string().capacity()) {
        std::string().swap(m_text);
    }
    if (m_blob.HasBlock()) {
        m_blob.Free();
    }
}

CSspValue::CSspValue(const CSspValue& other) {
    Copy(other);
}

CSspValue CSspValue::FromText(std::string text, int type) {
    CSspValue v;
    v.m_type = type;
    if (v.IsText() || type == kSqlNoType) {
        v.m_text = std::move(text);
    } else {
        v.SetFromText(text);
    }
    return v;
}

CSspValue CSspValue::FromInteger(std::int32_t value, int type) {
    CSspValue v;
    v.m_type = type;
    v.m_integer = value;
    return v;
}

CSspValue CSspValue::FromDouble(double value, int type) {
    CSspValue v;
    v.m_type = type;
    v.m_double = value;
    return v;
}

CSspValue CSspValue::FromReal(float value) {
    CSspValue v;
    v.m_type = kSqlReal;
    v.m_real = value;
    return v;
}

CSspValue CSspValue::FromDateTime(std::int64_t time, int type) {
    CSspValue v;
    v.m_type = type;
    v.m_dateTime = time;
    return v;
}

CSspValue CSspValue::FromTimeSpan(std::int64_t seconds) {
    CSspValue v;
    v.m_type = kSqlTime;
    v.m_timeSpan = seconds;
    return v;
}

CSspValue CSspValue::FromBinary(std::string_view bytes, int type) {
    CSspValue v;
    v.m_type = type;
    v.m_blob.Assign(bytes.data(), bytes.size());
    return v;
}

void CSspValue::SetNull() {
    m_text.clear();
    m_decimals = 0;
    m_columnSize = kDefaultColumnSize;
    m_integer = kNullInteger;
    m_real = kNullReal;
    m_double = kNullDouble;
    m_dateTime = 0;
    m_blob.SetLength(0);
    m_timeSpan = 0;
}

bool CSspValue::Copy(const CSspValue& other) {
    if (this == &other) {
        return true;
    }
    m_text = other.m_text;
    CopyScalars(other);
    if (!CopyBlob(m_blob, other.m_blob)) {
        m_blob.SetLength(0);
        return false;
    }
    return true;
}

bool CSspValue::CopyBlob(CLongBinary& dst, const CLongBinary& src) {
    if (!src.HasBlock()) {
        dst.SetLength(0);
        return true;
    }
    return dst.Assign(src.Data(), src.Length());
}

void CSspValue::TakeBlob(CLongBinary& blob) {
    CLongBinary taken(std::move(blob));
    m_blob = std::move(taken);
}

// ---- type tests ----

bool CSspValue::IsInteger() const {
    return m_type == kSqlInteger || m_type == kSqlSmallInt;
}

bool CSspValue::IsDecimal() const {
    return m_type == kSqlNumeric || m_type == kSqlDecimal;
}

bool CSspValue::IsReal() const {
    return m_type == kSqlReal;
}

bool CSspValue::IsDouble() const {
    return m_type == kSqlFloat || m_type == kSqlDouble;
}

bool CSspValue::IsText() const {
    return m_type == kSqlChar || m_type == kSqlVarChar || m_type == kSqlWChar ||
           m_type == kSqlWVarChar;
}

bool CSspValue::IsLongText() const {
    return m_type == kSqlLongVarChar || m_type == kSqlWLongVarChar;
}

bool CSspValue::IsBinary() const {
    return m_type == kSqlBinary || m_type == kSqlVarBinary || m_type == kSqlLongVarBinary;
}

bool CSspValue::IsDateTime() const {
    return m_type == kSqlDate || m_type == kSqlTimestamp;
}

bool CSspValue::IsTimeSpan() const {
    return m_type == kSqlTime;
}

bool CSspValue::IsNumber() const {
    return IsInteger() || IsReal() || IsDouble() || IsDecimal();
}

bool CSspValue::IsNull() const {
    if (IsBinary() || IsLongText()) {
        return !m_blob.HasBlock() || m_blob.Length() == 0;
    }
    if (IsInteger()) {
        return m_integer == kNullInteger;
    }
    if (IsReal()) {
        return std::bit_cast<std::uint32_t>(m_real) == kNullRealBits;
    }
    if (IsDouble()) {
        return std::bit_cast<std::uint64_t>(m_double) == kNullDoubleBits;
    }
    if (IsDateTime()) {
        return m_dateTime <= 0;
    }
    if (IsTimeSpan()) {
        return false;
    }
    return m_text.empty();
}

bool CSspValue::IsNumeric() const {
    if (IsNumber()) {
        return true;
    }
    if (!IsText() || m_text.empty()) {
        return false;
    }
    std::size_t i = m_text[0] == '-' ? 1 : 0;
    for (; i < m_text.size(); ++i) {
        const char c = m_text[i];
        if (!IsDigit(c) && c != '.' && c != ',') {
            return false;
        }
    }
    return true;
}

bool CSspValue::HasDateTime() const {
    if (IsDateTime()) {
        return true;
    }
    return IsText() && CSspDateTime(m_text).IsValid();
}

// ---- reading ----

namespace {

std::int32_t TruncateToInt(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= 2147483648.0) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (d <= -2147483649.0) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(d);
}

}  // namespace

std::int32_t CSspValue::GetInteger() const {
    if (IsInteger()) {
        return m_integer;
    }
    if (IsReal()) {
        return TruncateToInt(static_cast<double>(m_real));
    }
    if (IsDouble()) {
        return TruncateToInt(m_double);
    }
    return m_text.empty() ? kNullInteger : TextToInt(m_text);
}

double CSspValue::GetDouble() const {
    if (IsInteger()) {
        return static_cast<double>(m_integer);
    }
    if (IsReal()) {
        return static_cast<double>(m_real);
    }
    if (IsDouble()) {
        return m_double;
    }
    return m_text.empty() ? kNullDouble : TextToDouble(m_text);
}

std::int64_t CSspValue::GetDateTime() const {
    if (IsDateTime()) {
        return m_dateTime;
    }
    if (IsText()) {
        return CSspDateTime(m_text).m_time;
    }
    return 0;
}

std::string CSspValue::GetText() const {
    if (IsBinary() || IsLongText()) {
        if (!m_blob.HasBlock()) {
            return {};
        }
        const std::string_view bytes = m_blob.View();
        return bytes == " " ? std::string() : std::string(bytes);
    }
    if (IsInteger()) {
        return m_integer == kNullInteger ? std::string() : IntToText(m_integer);
    }
    if (IsReal()) {
        return IsNull() ? std::string() : DoubleToText(static_cast<double>(m_real));
    }
    if (IsDouble()) {
        return IsNull() ? std::string() : DoubleToText(m_double);
    }
    if (IsDateTime()) {
        return m_dateTime > 0 ? CSspDateTime(m_dateTime).GetDateTimeStr() : std::string();
    }
    if (IsTimeSpan()) {
        // Floor division keeps hours, minutes and seconds within their ranges for a negative
        // span: -1 s is "-1 23:59:59".
        std::int64_t days = m_timeSpan / 86400;
        std::int64_t rest = m_timeSpan % 86400;
        if (rest < 0) {
            rest += 86400;
            days -= 1;
        }
        return IntToText(days) + " " + IntToText(rest / 3600) + ":" + IntToText(rest / 60 % 60) +
               ":" + IntToText(rest % 60);
    }
    return m_text;
}

std::string CSspValue::GetTextFor(const CSspValue& target) const {
    if ((IsReal() || IsDouble()) && !IsNull() && (target.IsReal() || target.IsDouble())) {
        return ShortestDoubleText(GetDouble());
    }
    return GetText();
}

// ---- writing ----

void CSspValue::SetFromText(std::string_view text) {
    if (IsInteger()) {
        m_integer = text.empty() ? kNullInteger : TextToInt(text);
    } else if (IsReal()) {
        m_real = text.empty() ? kNullReal : static_cast<float>(TextToDouble(text));
    } else if (IsDouble()) {
        m_double = text.empty() ? kNullDouble : TextToDouble(text);
    } else if (IsDateTime()) {
        m_dateTime = CSspDateTime(text).m_time;
    } else if (IsBinary() || IsLongText()) {
        m_blob.Assign(text.data(), text.size());
    } else {
        if (IsDecimal()) {
            m_decimals = CountDecimals(text);
        }
        m_text.assign(text);
    }
}

void CSspValue::SetNumber(std::string_view text, std::optional<std::string_view> decimalsText) {
    int decimals = decimalsText ? TextToInt(*decimalsText) : CountDecimals(text);
    if (decimals > kMaxDecimals) {
        decimals = kMaxDecimals;
    }
    if (decimals != 0) {
        m_type = kSqlNumeric;
        m_decimals = decimals;
        m_text = DoubleToText(TextToDouble(text), decimals);
    } else {
        m_type = kSqlInteger;
        m_decimals = 0;
        m_integer = TextToInt(text);
    }
}

int CSspValue::CountDecimals(std::string_view text) {
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    const std::size_t n = text.size() - dot - 1;
    return n > static_cast<std::size_t>(std::numeric_limits<int>::max())
               ? std::numeric_limits<int>::max()
               : static_cast<int>(n);
}

std::string CSspValue::EscapeSqlQuotes(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        out += c;
        if (c == '\'') {
            out += '\'';
        }
    }
    return out;
}

std::string CSspValue::ToSqlLiteral() const {
    if (IsText()) {
        return m_text.empty() ? "NULL" : Quoted(m_text);
    }
    if (IsInteger()) {
        return m_integer == kNullInteger ? "NULL" : IntToText(m_integer);
    }
    if (IsDecimal()) {
        if (m_text.empty()) {
            return "NULL";
        }
        // Anything but a plain number goes in quotes, so a text such as "1 or 1=1" stays data.
        return IsPlainNumber(m_text) ? m_text : Quoted(m_text);
    }
    if (IsReal()) {
        return IsNull() ? "NULL" : ShortestDoubleText(static_cast<double>(m_real));
    }
    if (IsDouble()) {
        return IsNull() ? "NULL" : ShortestDoubleText(m_double);
    }
    if (IsDateTime()) {
        if (m_dateTime <= 0) {
            return "NULL";
        }
        const CSspDateTime dt(m_dateTime);
        return m_type == kSqlTimestamp ? dt.GetOdbcDateTimeStr() : dt.GetOdbcDateStr();
    }
    const std::string text = GetText();
    return text.empty() ? "NULL" : Quoted(text);
}

// ---- operators ----

int CSspValue::ApplyOperator(const CSspValue& left, std::string_view op, const CSspValue& right) {
    if (op == "+") {
        return Add(left, right);
    }
    if (op == "-") {
        return Subtract(left, right);
    }
    if (op == "*") {
        return Multiply(left, right);
    }
    if (op == "/") {
        return Divide(left, right);
    }
    if (op == "%") {
        return Modulo(left, right);
    }
    if (op == "||") {
        return Concat(left, right);
    }
    return kOpOk;
}

int CSspValue::Add(const CSspValue& left, const CSspValue& right) {
    if (left.IsNull()) {
        Copy(right);
        return kOpOk;
    }
    if (right.IsNull()) {
        Copy(left);
        return kOpOk;
    }
    if (left.IsText()) {
        if (left.IsNumeric() && right.IsNumeric()) {
            return NumericPair(left, right, Arith::kAdd, this);
        }
        if (right.IsTimeSpan() && left.HasDateTime()) {
            *this = FromDateTime(SaturatingAdd(left.GetDateTime(), right.m_timeSpan), kSqlDate);
            return kOpOk;
        }
        CSspValue joined;
        joined.m_type = left.m_type;
        joined.m_text = left.m_text + right.GetText();
        *this = std::move(joined);
        return kOpOk;
    }
    if (left.IsLongText()) {
        *this = JoinedText(left, right, kSqlVarChar);
        return kOpOk;
    }
    if (left.IsNumber()) {
        if (right.IsNumeric()) {
            return NumericPair(left, right, Arith::kAdd, this);
        }
        if (right.IsText()) {
            CSspValue joined;
            joined.m_type = right.m_type;
            joined.m_text = left.GetText() + right.m_text;
            *this = std::move(joined);
            return kOpOk;
        }
        if (right.IsLongText()) {
            *this = JoinedText(left, right, kSqlVarChar);
            return kOpOk;
        }
        return kOpNotAllowed;
    }
    if (left.IsDateTime()) {
        if (right.IsTimeSpan()) {
            *this = FromDateTime(SaturatingAdd(left.m_dateTime, right.m_timeSpan), left.m_type);
            return kOpOk;
        }
        if (right.IsText() || right.IsLongText()) {
            *this = JoinedText(left, right, kSqlVarChar);
            return kOpOk;
        }
        return kOpNeedTimeSpan;
    }
    if (left.IsTimeSpan()) {
        if (right.IsDateTime()) {
            *this = FromDateTime(SaturatingAdd(right.m_dateTime, left.m_timeSpan), right.m_type);
            return kOpOk;
        }
        if (right.IsTimeSpan()) {
            *this = FromTimeSpan(SaturatingAdd(left.m_timeSpan, right.m_timeSpan));
            return kOpOk;
        }
        if (right.IsText() || right.IsLongText()) {
            *this = JoinedText(left, right, kSqlVarChar);
            return kOpOk;
        }
        return kOpNeedDateTime;
    }
    return kOpNotAllowed;
}

int CSspValue::Subtract(const CSspValue& left, const CSspValue& right) {
    CSspValue result = FromText(std::string());
    int rc = kOpOk;
    if (left.IsNull() && !right.IsNull()) {
        if (right.IsNumeric()) {
            rc = NumericPair(FromInteger(0), right, Arith::kSub, &result);
        } else if (right.IsTimeSpan()) {
            result = FromTimeSpan(SaturatingSub(0, right.m_timeSpan));
        }
    } else if (right.IsNull()) {
        result = left;
    } else if (left.IsNumeric()) {
        rc = right.IsNumeric() ? NumericPair(left, right, Arith::kSub, &result) : kOpNotAllowed;
    } else if (!left.HasDateTime()) {
        if (!left.IsTimeSpan()) {
            rc = kOpNotAllowed;
        } else if (!right.IsTimeSpan()) {
            rc = kOpNeedTimeSpan;
        } else {
            result = FromTimeSpan(SaturatingSub(left.m_timeSpan, right.m_timeSpan));
        }
    } else if (right.IsTimeSpan()) {
        result = FromDateTime(SaturatingSub(left.GetDateTime(), right.m_timeSpan), kSqlDate);
    } else if (right.HasDateTime()) {
        result = FromTimeSpan(SaturatingSub(left.GetDateTime(), right.GetDateTime()));
    } else {
        rc = kOpNeedSpanOrDateTime;
    }
    *this = std::move(result);
    return rc;
}

namespace {

// The shared start of "*", "/" and "%": empty text for a NULL operand, kOpNotAllowed when
// neither operand reads as a number, else -1 to go on.
int CheckProductOperands(const CSspValue& left, const CSspValue& right) {
    if (left.IsNull() || right.IsNull()) {
        return kOpOk;
    }
    if (!left.IsNumeric() && !right.IsNumeric()) {
        return kOpNotAllowed;
    }
    return -1;
}

// "*" and "/": the shared checks, then the numeric pair rule.
int Product(const CSspValue& left, const CSspValue& right, Arith op, CSspValue* result) {
    *result = CSspValue::FromText(std::string());
    int rc = CheckProductOperands(left, right);
    return rc == -1 ? NumericPair(left, right, op, result) : rc;
}

}  // namespace

int CSspValue::Multiply(const CSspValue& left, const CSspValue& right) {
    CSspValue result;
    int rc = Product(left, right, Arith::kMul, &result);
    *this = std::move(result);
    return rc;
}

int CSspValue::Divide(const CSspValue& left, const CSspValue& right) {
    CSspValue result;
    int rc = Product(left, right, Arith::kDiv, &result);
    *this = std::move(result);
    return rc;
}

int CSspValue::Modulo(const CSspValue& left, const CSspValue& right) {
    CSspValue result = FromText(std::string());
    int rc = CheckProductOperands(left, right);
    if (rc == -1) {
        const std::int32_t a = left.GetInteger();
        const std::int32_t b = right.GetInteger();
        if (b == 0 || (a == std::numeric_limits<std::int32_t>::min() && b == -1)) {
            rc = kOpNotAllowed;
        } else {
            result = FromInteger(a % b);
            rc = kOpOk;
        }
    }
    *this = std::move(result);
    return rc;
}

int CSspValue::Concat(const CSspValue& left, const CSspValue& right) {
    if (left.IsNull()) {
        Copy(right);
    } else if (right.IsNull()) {
        Copy(left);
    } else {
        *this = JoinedText(left, right, kSqlVarChar);
    }
    return kOpOk;
}

bool CSspValue::Compare(std::string_view op, const CSspValue& right) const {
    const bool leftNull = IsNull();
    const bool rightNull = right.IsNull();
    if (leftNull && rightNull) {
        return op == "=" || op == "==";
    }
    if (leftNull || rightNull) {
        return op == "<>" || op == "!=";
    }
    std::partial_ordering order = std::partial_ordering::unordered;
    if (IsNumber() || right.IsNumber()) {
        order = Order(GetDouble(), right.GetDouble());
    } else if (IsText()) {
        // std::string compares as unsigned bytes, which is the byte order texts sort by.
        order = Order(std::string_view(m_text), std::string_view(right.GetText()));
    } else if (IsDateTime()) {
        order = Order(m_dateTime, right.GetDateTime());
    } else if (IsTimeSpan()) {
        order = Order(m_timeSpan, right.m_timeSpan);
    } else {
        order = Order(GetText(), right.GetText());
    }
    return OrderSatisfies(op, order);
}

// ---- number text ----

std::int32_t CSspValue::TextToInt(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Past 2^31 the value is clamped, however many digits follow.
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    std::int64_t n = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        n = std::min(n * 10 + (text[i] - '0'), kLimit);
    }
    if (negative) {
        return static_cast<std::int32_t>(-n);
    }
    return static_cast<std::int32_t>(std::min(n, kLimit - 1));
}

double CSspValue::TextToDouble(std::string_view text) {
    // Only the decimal form is read: strtod would also take hexadecimal, "inf" and "nan".
    std::size_t i = 0;
    while (i < text.size() && IsAsciiSpace(text[i])) {
        ++i;
    }
    const std::size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        ++i;
    }
    std::size_t digits = 0;
    for (; i < text.size() && IsDigit(text[i]); ++i) {
        ++digits;
    }
    if (i < text.size() && text[i] == '.') {
        for (++i; i < text.size() && IsDigit(text[i]); ++i) {
            ++digits;
        }
    }
    if (digits == 0) {
        return 0;
    }
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::size_t e = i + 1;
        if (e < text.size() && (text[e] == '+' || text[e] == '-')) {
            ++e;
        }
        if (e < text.size() && IsDigit(text[e])) {
            for (i = e; i < text.size() && IsDigit(text[i]); ++i) {
            }
        }
    }
    const std::string copy(text.substr(start, i - start));
    return strtod_l(copy.c_str(), nullptr, CLocale());
}

std::string CSspValue::DoubleToText(double value, int decimals) {
    if (decimals < 0) {
        decimals = 6;
    }
    if (decimals > kMaxDecimals) {
        decimals = kMaxDecimals;
    }
    // The widest fixed form: sign, 309 integer digits, point, the decimals.
    std::string buf(static_cast<std::size_t>(decimals) + 320, '\0');
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value,
                                      std::chars_format::fixed, decimals);
    buf.resize(static_cast<std::size_t>(result.ptr - buf.data()));
    return buf;
}

std::string CSspValue::ShortestDoubleText(double value) {
    char buf[32];  // the longest shortest form, "-2.2250738585072014e-308", has 24
    const auto result = std::to_chars(buf, buf + sizeof buf, value);
    return std::string(buf, result.ptr);
}
