#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// Numbers in the profile file follow the Visual Basic rules the stored files were written with.
namespace vbnumber {

// Val: the leading number of the text, blanks, tabs and line feeds skipped anywhere; &H and &O
// give hexadecimal and octal. Nothing when Val would raise an error (a type suffix, overflow).
std::optional<double> Val(const QString &text);

// Val, rounded half to even, as a 16-bit integer; 0 when there is no number or it is out of range.
qint16 toInt16(const QString &text);

// Decimal digits with a leading minus when negative, nothing else.
QString fromInt(qint16 value);

} // namespace vbnumber
