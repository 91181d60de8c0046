#include "format/leading_number.h"

#include <QVarLengthArray>

#include <algorithm>
#include <limits>

namespace vorlan::format {
namespace {

constexpr char16_t Unit(char c) { return char16_t(static_cast<unsigned char>(c)); }
constexpr char16_t Unit(QChar c) { return c.unicode(); }

constexpr bool IsSkipped(char16_t c) { return c == u' ' || c == u'\t' || c == u'\n'; }
constexpr bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Powers of ten that a double holds exactly: with at most 15 significant digits, one multiply
// or divide by one of them rounds correctly, which covers every field a record carries.
constexpr double kExactPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
constexpr qsizetype kFastDigits = 15;

// Far enough outside a double's decimal range that the result is certainly infinite or zero,
// yet small enough that the exponent arithmetic below cannot overflow.
constexpr qint64 kMagnitudeLimit = 400;
constexpr qint64 kExponentCap = 1'000'000'000;

// Scans the text once; only the significant digits are kept (leading and trailing zeros
// dropped) and the value is 0.<digits> x 10^magnitude.
template <typename Text>
double Read(const Text& text) {
  const qsizetype size = text.size();
  qsizetype i = 0;
  auto next = [&]() -> char16_t {
    while (i < size && IsSkipped(Unit(text[i]))) ++i;
    return i < size ? Unit(text[i]) : u'\0';
  };

  bool negative = false;
  if (const char16_t c = next(); c == u'+' || c == u'-') {
    negative = c == u'-';
    ++i;
  }

  QVarLengthArray<char, 64> digits;
  bool anyDigit = false;
  qint64 pointPosition = 0;  // integer digits after the leading zeros, or minus fraction zeros
  for (char16_t c = next(); IsDigit(c); ++i, c = next()) {
    anyDigit = true;
    if (digits.isEmpty() && c == u'0') continue;
    digits.append(char(c));
    ++pointPosition;
  }
  if (next() == u'.') {
    ++i;
    for (char16_t c = next(); IsDigit(c); ++i, c = next()) {
      anyDigit = true;
      if (digits.isEmpty() && c == u'0') {
        --pointPosition;
        continue;
      }
      digits.append(char(c));
    }
  }
  if (!anyDigit) return 0.0;

  qint64 exponent = 0;
  if (const char16_t c = next(); c == u'e' || c == u'E') {
    ++i;
    bool negativeExponent = false;
    if (const char16_t s = next(); s == u'+' || s == u'-') {
      negativeExponent = s == u'-';
      ++i;
    }
    for (char16_t d = next(); IsDigit(d); ++i, d = next())
      exponent = std::min(exponent * 10 + (d - u'0'), kExponentCap);
    if (negativeExponent) exponent = -exponent;
  }

  while (!digits.isEmpty() && digits.back() == '0') digits.removeLast();
  if (digits.isEmpty()) return 0.0;

  const double sign = negative ? -1.0 : 1.0;
  const qint64 magnitude = pointPosition + exponent;
  if (magnitude > kMagnitudeLimit) return sign * std::numeric_limits<double>::infinity();
  if (magnitude < -kMagnitudeLimit) return 0.0;

  const qint64 scale = magnitude - digits.size();  // value = <digits as integer> x 10^scale
  if (digits.size() <= kFastDigits && scale >= -22 && scale <= 22) {
    double mantissa = 0;
    for (char d : digits) mantissa = mantissa * 10 + (d - '0');
    const double power = kExactPowers[scale < 0 ? -scale : scale];
    return sign * (scale < 0 ? mantissa / power : mantissa * power);
  }

  // Long or far-scaled values: let Qt's correctly rounded conversion do it.
  QVarLengthArray<char, 96> normal;
  normal.append("0.", 2);
  normal.append(digits.constData(), digits.size());
  normal.append('e');
  const QByteArray exponentText = QByteArray::number(magnitude);
  normal.append(exponentText.constData(), exponentText.size());
  bool ok = false;
  const double value = QByteArrayView(normal.constData(), normal.size()).toDouble(&ok);
  if (ok) return value == 0 ? 0.0 : sign * value;
  // Qt reports overflow and underflow alike as a failure.
  return magnitude > 0 ? sign * std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

double LeadingNumber(QByteArrayView text) { return Read(text); }

double LeadingNumber(QStringView text) { return Read(text); }

}  // namespace vorlan::format
