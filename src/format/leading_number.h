#pragma once

#include <QByteArrayView>
#include <QStringView>

// The one way this program reads a number out of text: the record's type and length fields,
// the time-stamp fields and the operator's maximum call time.
namespace vorlan::format {

// The decimal number at the start of the text: optional sign, digits, optional point and
// fraction, optional exponent ("E" or "e", optional sign, digits). Blanks, tabs and line feeds
// are skipped wherever they stand, so "1 0" reads as 10. Reading stops at the first character
// that cannot continue the number; 0 when the text does not start with one.
//
// Only decimal is read: "D" is no exponent letter and "&H"/"&O" no radix prefix, since every
// numeric field of a record is digits. An exponent without digits ("1e") is ignored.
// Magnitudes beyond a double give +-infinity, tiny ones 0; callers range-check the result.
// Never returns NaN or -0.
double LeadingNumber(QByteArrayView text);
double LeadingNumber(QStringView text);

}  // namespace vorlan::format
