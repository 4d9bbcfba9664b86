#include "settings_record.h"

#include "platform/file_names.h"

#include <QByteArrayView>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>
#include <vector>

namespace settings {
namespace {

constexpr char kQuote = '"';
constexpr QByteArrayView kTrueWord = "#TRUE#";
constexpr QByteArrayView kFalseWord = "#FALSE#";

bool isSpace(char c)
{
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c)
{
    return c == '\r' || c == '\n';
}
bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// ---- numbers --------------------------------------------------------------------------------

// A decimal number as 0.digits * 10^point, digits without leading zeros (none at all for 0).
struct Decimal
{
    bool negative = false;
    QByteArray digits;
    qint64 point = 0;
};

std::optional<Decimal> parseDecimal(QByteArrayView text)
{
    Decimal result;
    qsizetype i = 0;
    const qsizetype size = text.size();
    if (i < size && (text[i] == '+' || text[i] == '-')) {
        result.negative = text[i] == '-';
        ++i;
    }
    qsizetype mantissaDigits = 0;
    qint64 integerDigits = 0;
    for (; i < size && isDigit(text[i]); ++i, ++mantissaDigits, ++integerDigits)
        result.digits.append(text[i]);
    if (i < size && text[i] == '.') {
        for (++i; i < size && isDigit(text[i]); ++i, ++mantissaDigits)
            result.digits.append(text[i]);
    }
    if (mantissaDigits == 0)
        return std::nullopt;

    qint64 exponent = 0;
    if (i < size && (text[i] == 'e' || text[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < size && (text[i] == '+' || text[i] == '-')) {
            negativeExponent = text[i] == '-';
            ++i;
        }
        // Any exponent beyond this is far outside every range read here; saturate.
        constexpr qint64 kExponentLimit = 1'000'000'000;
        const qsizetype start = i;
        for (; i < size && isDigit(text[i]); ++i)
            exponent = std::min(exponent * 10 + (text[i] - '0'), kExponentLimit);
        if (i == start)
            return std::nullopt;
        if (negativeExponent)
            exponent = -exponent;
    }
    if (i != size)
        return std::nullopt;

    qsizetype zeros = 0;
    while (zeros < result.digits.size() && result.digits[zeros] == '0')
        ++zeros;
    result.digits.remove(0, zeros);
    result.point = integerDigits + exponent - zeros;
    return result;
}

// Rounds half to even; nullopt when the result lies outside min..max.
std::optional<qint64> roundToInteger(const Decimal &value, qint64 min, qint64 max)
{
    const QByteArray &digits = value.digits;
    if (digits.isEmpty())
        return 0;
    // digits[0] is not zero, so the value is at least 10^(point - 1).
    if (value.point > 10)
        return std::nullopt;

    const auto digitAt = [&](qint64 i) { return i < digits.size() ? digits[i] - '0' : 0; };
    qint64 magnitude = 0;
    for (qint64 i = 0; i < value.point; ++i)
        magnitude = magnitude * 10 + digitAt(i);

    if (value.point >= 0) {
        const int firstFraction = digitAt(value.point);
        bool restNonZero = false;
        for (qsizetype i = value.point + 1; i < digits.size() && !restNonZero; ++i)
            restNonZero = digits[i] != '0';
        if (firstFraction > 5 || (firstFraction == 5 && (restNonZero || magnitude % 2 != 0)))
            ++magnitude;
    } // else the value is below 0.1 and rounds to 0

    const qint64 result = value.negative ? -magnitude : magnitude;
    if (result < min || result > max)
        return std::nullopt;
    return result;
}

// ---- writing --------------------------------------------------------------------------------

// The exact decimal digits of a finite, non-zero float, rounded to seven significant digits
// (ties to even, as printf rounds), trailing zeros removed; `exponent` is the power of ten of
// the first digit. Plain integer arithmetic: the library's float formatting would bring its
// large tables into memory at start-up, when the settings line is first made.
QByteArray sevenSignificantDigits(float value, int &exponent)
{
    constexpr int kSignificant = 7;
    // From the bits, without the maths library (more pages at start-up for two calls).
    constexpr int kFractionBits = std::numeric_limits<float>::digits - 1;
    constexpr int kExponentBias = std::numeric_limits<float>::max_exponent - 1;
    constexpr quint32 kExponentField = 0xff;
    const auto bits = std::bit_cast<quint32>(value);
    const quint32 biased = (bits >> kFractionBits) & kExponentField;
    const quint32 fraction = bits & ((1u << kFractionBits) - 1);
    const quint32 mantissa = biased == 0 ? fraction : fraction | (1u << kFractionBits);
    const int binaryExponent = (biased == 0 ? 1 : int(biased)) - kExponentBias - kFractionBits;

    // value = mantissa * 2^binaryExponent = whole / 10^shift, with whole an integer held in
    // base-10^9 limbs, least significant first.
    constexpr quint32 kLimb = 1'000'000'000;
    constexpr int kLimbDigits = 9;
    std::vector<quint32> whole{mantissa % kLimb, mantissa / kLimb};
    const auto multiply = [&whole](quint32 factor) {
        quint64 carry = 0;
        for (quint32 &limb : whole) {
            carry += quint64(limb) * factor;
            limb = quint32(carry % kLimb);
            carry /= kLimb;
        }
        if (carry != 0)
            whole.push_back(quint32(carry));
    };
    const int shift = binaryExponent < 0 ? -binaryExponent : 0;
    for (int i = 0; i < std::abs(binaryExponent); ++i)
        multiply(binaryExponent < 0 ? 5 : 2);

    QByteArray digits;
    while (whole.size() > 1 && whole.back() == 0)
        whole.pop_back();
    digits.append(QByteArray::number(whole.back()));
    for (auto limb = whole.rbegin() + 1; limb != whole.rend(); ++limb)
        digits.append(QByteArray::number(*limb).rightJustified(kLimbDigits, '0'));
    exponent = int(digits.size()) - 1 - shift;

    if (digits.size() > kSignificant) {
        const QByteArrayView rest = QByteArrayView(digits).sliced(kSignificant);
        const bool aboveHalf =
            rest[0] > '5' || (rest[0] == '5' && rest.sliced(1).count('0') != rest.size() - 1);
        const bool half = rest[0] == '5' && !aboveHalf;
        digits.truncate(kSignificant);
        if (aboveHalf || (half && (digits.back() - '0') % 2 != 0)) {
            qsizetype i = kSignificant - 1;
            while (i >= 0 && digits[i] == '9')
                digits[i--] = '0';
            if (i < 0) {
                digits.prepend('1');
                digits.chop(1);
                ++exponent;
            } else {
                ++digits[i];
            }
        }
    }
    while (digits.endsWith('0'))
        digits.chop(1);
    return digits;
}

QByteArray formatPosition(float value)
{
    if (!std::isfinite(value) || value == 0.0f)
        return "0";
    int exponent = 0;
    const QByteArray digits = sevenSignificantDigits(value, exponent);

    QByteArray result = value < 0 ? "-" : "";
    if (exponent < 0) {
        result += "0." + QByteArray(-exponent - 1, '0') + digits;
    } else if (digits.size() <= exponent + 1) {
        result += digits + QByteArray(exponent + 1 - digits.size(), '0');
    } else {
        result += digits.first(exponent + 1) + '.' + digits.sliced(exponent + 1);
    }
    return result;
}

} // namespace

void RecordWriter::text(const QString &value)
{
    QByteArray bytes = platform::encodeFileName(value);
    bytes.replace("\"", "\"\"");
    m_fields.append(kQuote + bytes + kQuote);
}

void RecordWriter::whole(qint32 value)
{
    m_fields.append(QByteArray::number(value));
}

void RecordWriter::position(float value)
{
    m_fields.append(formatPosition(value));
}

void RecordWriter::yesNo(bool value)
{
    m_fields.append((value ? kTrueWord : kFalseWord).toByteArray());
}

QByteArray RecordWriter::finish() const
{
    return m_fields.join(',') + "\r\n";
}

// ---- reading --------------------------------------------------------------------------------

RecordReader::RecordReader(QByteArray data) : m_data(std::move(data)) {}

std::optional<QByteArray> RecordReader::nextField()
{
    if (m_failed)
        return std::nullopt;
    const qsizetype size = m_data.size();
    while (m_pos < size && (isSpace(m_data[m_pos]) || (m_afterLineEnd && isLineEnd(m_data[m_pos]))))
        ++m_pos;
    if (m_pos == size) {
        m_failed = true;
        return std::nullopt;
    }

    const auto isSeparator = [](char c) { return c == ',' || isLineEnd(c); };
    QByteArray field;
    if (m_data[m_pos] == kQuote) {
        ++m_pos;
        while (m_pos < size) {
            const qsizetype quote = m_data.indexOf(kQuote, m_pos);
            const qsizetype stop = quote < 0 ? size : quote;
            field.append(QByteArrayView(m_data).sliced(m_pos, stop - m_pos));
            m_pos = stop;
            if (quote < 0)
                break;
            if (quote + 1 < size && m_data[quote + 1] == kQuote) {
                field.append(kQuote);
                m_pos = quote + 2;
            } else {
                m_pos = quote + 1;
                break;
            }
        }
        while (m_pos < size && !isSeparator(m_data[m_pos]))
            ++m_pos;
    } else {
        const qsizetype start = m_pos;
        while (m_pos < size && !isSeparator(m_data[m_pos]))
            ++m_pos;
        qsizetype stop = m_pos;
        while (stop > start && isSpace(m_data[stop - 1]))
            --stop;
        field = m_data.sliced(start, stop - start);
    }

    if (m_pos < size) {
        m_afterLineEnd = isLineEnd(m_data[m_pos]);
        ++m_pos; // the rest of a CR LF pair is skipped as a blank line before the next field
    }
    return field;
}

std::optional<qint64> RecordReader::nextInteger(qint64 min, qint64 max)
{
    const std::optional<QByteArray> field = nextField();
    if (!field)
        return std::nullopt;
    const std::optional<Decimal> number = parseDecimal(field->trimmed());
    if (!number)
        return 0;
    std::optional<qint64> result = roundToInteger(*number, min, max);
    if (!result)
        m_failed = true;
    return result;
}

bool RecordReader::text(QString &out)
{
    const std::optional<QByteArray> field = nextField();
    if (!field)
        return false;
    out = platform::decodeFileName(*field);
    return true;
}

bool RecordReader::whole(qint32 &out)
{
    const auto value =
        nextInteger(std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    if (!value)
        return false;
    out = static_cast<qint32>(*value);
    return true;
}

bool RecordReader::position(qint32 &out)
{
    return whole(out);
}

bool RecordReader::whole16(qint16 &out)
{
    const auto value =
        nextInteger(std::numeric_limits<qint16>::min(), std::numeric_limits<qint16>::max());
    if (!value)
        return false;
    out = static_cast<qint16>(*value);
    return true;
}

bool RecordReader::yesNo(bool &out)
{
    const std::optional<QByteArray> field = nextField();
    if (!field)
        return false;
    const QByteArray word = field->trimmed();
    if (word.compare(kTrueWord, Qt::CaseInsensitive) == 0) {
        out = true;
    } else if (word.compare(kFalseWord, Qt::CaseInsensitive) == 0) {
        out = false;
    } else {
        const std::optional<Decimal> number = parseDecimal(word);
        out = number && !number->digits.isEmpty();
    }
    return true;
}

} // namespace settings
