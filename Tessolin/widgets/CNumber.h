// Numbers as text in the C form ('.' as the decimal point), whatever the process's locale.
#ifndef TESSOLIN_C_NUMBER_H
#define TESSOLIN_C_NUMBER_H

#include <QString>

namespace tessolin {

// value printed like printf with the conversion 'g', 'e' or 'f' and the precision
// (precision < 0: the printf default of 6).
QString PrintC(double value, char conversion, int precision = -1);

// Reads a number from the start of text like strtod in the C locale (leading blanks skipped,
// trailing text ignored). False when no number starts the text; with whole, also when anything
// but blanks follows it. *value is written only on success.
bool ParseC(const QString& text, double* value, bool whole = false);

}  // namespace tessolin

#endif  // TESSOLIN_C_NUMBER_H
