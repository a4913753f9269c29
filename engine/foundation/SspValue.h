#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ODBC SQL type codes, used as the type tag of a value (the values of sql.h, named apart from
// its macros so both can be included together).
enum SspSqlType : int {
    kSqlNoType = 0,
    kSqlChar = 1,
    kSqlNumeric = 2,
    kSqlDecimal = 3,
    kSqlInteger = 4,
    kSqlSmallInt = 5,
    kSqlFloat = 6,
    kSqlReal = 7,
    kSqlDouble = 8,
    kSqlDate = 9,
    kSqlTime = 10,  // a time span in seconds
    kSqlTimestamp = 11,
    kSqlVarChar = 12,
    kSqlLongVarChar = -1,
    kSqlBinary = -2,
    kSqlVarBinary = -3,
    kSqlLongVarBinary = -4,
    kSqlWChar = -8,
    kSqlWVarChar = -9,
    kSqlWLongVarChar = -10,
};

// What an operator returns; the evaluator turns a code below 0 into a script error with
// SspOperatorErrorText.
enum SspOpResult : int {
    kOpOk = 0,
    kOpNeedTimeSpan = -1,        // "Right operand should be a TimeSpan."
    kOpNeedDateTime = -2,        // "Right operand should be a datetime field."
    kOpNeedSpanOrDateTime = -3,  // "Right operand should be a TimeSpan or datetime field."
    kOpNotAllowed = -4,          // "Operation not allowed on these operands." (also x/0)
};

// The message text of an operator code, or nullptr for kOpOk and unknown codes.
const char* SspOperatorErrorText(int code);

// NULL markers. A value equal to one of them is NULL; real and double compare by bits.
inline constexpr std::int32_t kNullInteger = 1246576928;  // 0x4A4D4120
inline constexpr std::uint32_t kNullRealBits = 0xE09E4242u;
inline constexpr std::uint64_t kNullDoubleBits = 0xC413C84846922B8Cull;
inline constexpr float kNullReal = std::bit_cast<float>(kNullRealBits);
inline constexpr double kNullDouble = std::bit_cast<double>(kNullDoubleBits);  // -9.123e+19

// Long binary data: an owned block and the count of bytes in use. The block may be larger than
// the length, since a shorter value reuses it. No block ("no handle") and length 0 both make
// the value NULL.
class CLongBinary {
public:
    CLongBinary() = default;
    CLongBinary(const CLongBinary&) = default;
    CLongBinary& operator=(const CLongBinary&) = default;
    // A moved-from binary has neither block nor length.
    CLongBinary(CLongBinary&& other) noexcept;
    CLongBinary& operator=(CLongBinary&& other) noexcept;

    bool HasBlock() const { return !m_block.empty(); }
    std::uint32_t Length() const { return m_length; }
    std::size_t Capacity() const { return m_block.size(); }
    const unsigned char* Data() const { return m_block.data(); }
    unsigned char* Data() { return m_block.data(); }
    // The bytes in use.
    std::string_view View() const {
        return {reinterpret_cast<const char*>(m_block.data()), m_length};
    }

    // Stores n bytes: the block is reused when it holds at least n, else replaced by one of
    // exactly n bytes. Returns false, leaving everything as it was, when memory cannot be had
    // or n does not fit in 32 bits.
    bool Assign(const void* bytes, std::size_t n);
    // Makes the block hold at least n bytes, keeping those in use. False as for Assign.
    bool Reserve(std::size_t n);
    // Sets the count of bytes in use, at most the block's size.
    void SetLength(std::uint32_t length) {
        m_length = length > m_block.size() ? static_cast<std::uint32_t>(m_block.size()) : length;
    }
    // Frees the block; length 0.
    void Free();
    // Exchanges blocks and lengths.
    void Swap(CLongBinary& other) noexcept;

private:
    std::vector<unsigned char> m_block;
    std::uint32_t m_length = 0;
};

// The script value: every variable, evaluated expression, bound column and argument. The type
// tag is an ODBC SQL type code (SspSqlType) and decides which member is live:
//   text and decimal types: m_text (a decimal prints with exactly m_decimals digits);
//   integer types: m_integer; real: m_real; float and double: m_double;
//   date and timestamp: m_dateTime; time (a span): m_timeSpan;
//   long text and binary: m_blob.
// NULL is marked by the sentinels above, an empty text, a date-time of 0 or less, or an empty
// blob; a time span is never NULL.
//
// Numbers print and parse in the C locale whatever the process locale is. Copying a value copies
// its blob. Not thread-safe per object.
class CSspValue {
public:
    static constexpr int kDefaultColumnSize = 250;

    int m_type = kSqlNoType;
    std::string m_text;
    int m_columnSize = kDefaultColumnSize;  // size of the column the value came from
    int m_decimals = 0;                     // digits after the point for decimal types
    std::int32_t m_integer = kNullInteger;
    float m_real = kNullReal;
    double m_double = kNullDouble;
    std::int64_t m_dateTime = 0;  // seconds since the epoch (see CSspDateTime)
    std::int64_t m_timeSpan = 0;  // seconds
    CLongBinary m_blob;

    // Type 0, NULL.
    CSspValue() = default;
    CSspValue(const CSspValue& other);
    CSspValue& operator=(const CSspValue& other) {
        // A value without text or blob (numbers and NULLs above all) is copied here, sparing
        // the text's copy its call.
        if (other.m_text.empty() && !other.m_blob.HasBlock()) {
            m_text.clear();
            CopyScalars(other);
            m_blob.SetLength(0);
            return *this;
        }
        Copy(other);
        return *this;
    }
    CSspValue(CSspValue&&) noexcept = default;
    CSspValue& operator=(CSspValue&&) noexcept = default;
    ~CSspValue() = default;

    // Typed makers, for callers that build results.
    static CSspValue FromText(std::string text, int type = kSqlVarChar);
    static CSspValue FromInteger(std::int32_t value, int type = kSqlInteger);
    static CSspValue FromDouble(double value, int type = kSqlDouble);
    static CSspValue FromReal(float value);
    static CSspValue FromDateTime(std::int64_t time, int type = kSqlDate);
    static CSspValue FromTimeSpan(std::int64_t seconds);
    static CSspValue FromBinary(std::string_view bytes, int type = kSqlLongVarBinary);

    // Every member to its NULL marker (text empty, decimals 0, column size 250, the blob's
    // length 0 with its block kept, span 0); the type tag stays.
    void SetNull();
    // Assignment: every member, the blob by CopyBlob. False only when the blob's memory cannot
    // be had (the blob is then left empty).
    bool Copy(const CSspValue& other);
    // As a new value (type 0, NULL), holding no memory of its own: *this = CSspValue() without
    // making one.
    void Reset() {
        AssignInteger(kNullInteger, kSqlNoType);
        ReleaseStorage();
    }
    // Gives back the memory of a long text or a blob; the value may then be anything and is
    // to be assigned whole before it is read.
    void ReleaseStorage() {
        if (m_text.capacity() > std::string().capacity() || m_blob.HasBlock()) {
            ReleaseHeldStorage();
        }
    }
    // Copy(FromInteger(value, type)) without making the value first: for arithmetic that
    // stores its result in a variable.
    void AssignInteger(std::int32_t value, int type) {
        m_type = type;
        m_decimals = 0;
        m_text.clear();
        m_columnSize = kDefaultColumnSize;
        m_integer = value;
        m_real = kNullReal;
        m_double = kNullDouble;
        m_dateTime = 0;
        m_timeSpan = 0;
        m_blob.SetLength(0);
    }
    // Every member of `other` but the text and the blob.
    void CopyScalars(const CSspValue& other) {
        m_type = other.m_type;
        m_decimals = other.m_decimals;
        m_columnSize = other.m_columnSize;
        m_integer = other.m_integer;
        m_real = other.m_real;
        m_double = other.m_double;
        m_dateTime = other.m_dateTime;
        m_timeSpan = other.m_timeSpan;
    }
    // Copies src's bytes into dst, reusing dst's block when it is large enough. A source
    // without a block gives length 0. False only when memory cannot be had.
    static bool CopyBlob(CLongBinary& dst, const CLongBinary& src);
    // ReleaseStorage of a value that holds some.
    [[gnu::noinline]] void ReleaseHeldStorage();
    // Takes over the block and length of blob, which is left without either.
    void TakeBlob(CLongBinary& blob);

    // Type tests; each is a group of type codes.
    bool IsNull() const;
    bool IsInteger() const;   // 4, 5
    bool IsDecimal() const;   // 2, 3
    bool IsReal() const;      // 7
    bool IsDouble() const;    // 6, 8
    bool IsText() const;      // 1, 12, -8, -9
    bool IsLongText() const;  // -1, -10
    bool IsBinary() const;    // -2, -3, -4
    bool IsDateTime() const;  // 9, 11
    bool IsTimeSpan() const;  // 10
    bool IsNumber() const;    // integer, real, double or decimal
    // A number type, or a text type whose text is an optional '-' then only digits, '.' and
    // ',' (so "-" and "." count).
    bool IsNumeric() const;
    // A date-time type, or a text type whose text parses as a date-time.
    bool HasDateTime() const;

    // Integer types: the integer; real and double: truncated toward zero (NaN gives 0, values
    // beyond 32 bits saturate); others: the text by TextToInt, empty text the integer sentinel.
    std::int32_t GetInteger() const;
    // Numbers convert (the integer sentinel as a number); others: the text by TextToDouble, empty
    // text the double sentinel.
    double GetDouble() const;
    // Date-time types: the member; text types: the parsed text (0 when it does not parse);
    // others 0.
    std::int64_t GetDateTime() const;
    // The printed form: blob bytes (a lone blank is empty), "%d", "%f", the locale date-time,
    // "days h:m:s" for a span; NULL markers print empty.
    std::string GetText() const;
    // The text that gives `target` this value by SetFromText: from a real or double into a
    // real or double, ShortestDoubleText, so no digit is lost; otherwise GetText.
    std::string GetTextFor(const CSspValue& target) const;

    // Sets the live member of the current type from text (see the type groups above); a
    // decimal's decimals become CountDecimals(text). A blob keeps its length when memory cannot
    // be had.
    void SetFromText(std::string_view text);
    // A number literal: decimals = atoi(decimalsText) when given, else CountDecimals(text);
    // with decimals, type 2 and the text printed with that many digits; without, type 4.
    void SetNumber(std::string_view text,
                   std::optional<std::string_view> decimalsText = std::nullopt);
    // Characters after the first '.', 0 when there is none.
    static int CountDecimals(std::string_view text);
    // Every single quote doubled.
    static std::string EscapeSqlQuotes(std::string_view text);
    // The value as an SQL literal: "NULL" for NULL; quoted text with quotes doubled; bare
    // numbers (real and double by ShortestDoubleText); a decimal bare only when its text is a plain
    // number, else quoted; "{d '...'}" for a date and "{ts '...'}" for a timestamp.
    std::string ToSqlLiteral() const;

    // Operators: the result goes into *this, which may be one of the operands; each returns
    // kOpOk or an error code. The operands are read, never changed. Integer arithmetic wraps
    // in 32 bits; integer division or remainder by zero, and INT_MIN / -1, give kOpNotAllowed.
    // "+" Add, "-" Subtract, "*" Multiply, "/" Divide, "%" Modulo, "||" Concat; any other
    // operator does nothing and returns kOpOk.
    int ApplyOperator(const CSspValue& left, std::string_view op, const CSspValue& right);
    int Add(const CSspValue& left, const CSspValue& right);
    int Subtract(const CSspValue& left, const CSspValue& right);
    int Multiply(const CSspValue& left, const CSspValue& right);
    int Divide(const CSspValue& left, const CSspValue& right);
    int Modulo(const CSspValue& left, const CSspValue& right);
    int Concat(const CSspValue& left, const CSspValue& right);

    // *this (the left operand) against right by "=", "==", "<>", "!=", ">=", "<=", ">" or "<".
    // NULL equals only NULL; a number on either side compares as doubles; text compares by
    // bytes; any other operator gives false.
    bool Compare(std::string_view op, const CSspValue& right) const;

    // Number text in the C locale, for callers that read or print numbers as values do.
    // TextToInt: as C atoi (leading blanks, sign, digits; 0 when none), clamped to 32 bits.
    static std::int32_t TextToInt(std::string_view text);
    // TextToDouble: as C atof, but only of the decimal form (sign, digits, point, exponent);
    // 0 when nothing parses, so hexadecimal, "inf" and "nan" are no numbers.
    static double TextToDouble(std::string_view text);
    // DoubleToText: "%.*f" (a negative count prints 6 digits, as printf does).
    static std::string DoubleToText(double value, int decimals = 6);
    // ShortestDoubleText: the shortest text that reads back as the same double (an exponent
    // only where it is shorter), so a value reaches SQL unchanged.
    static std::string ShortestDoubleText(double value);
};
