#include "widgets/CNumber.h"

#include <charconv>
#include <clocale>
#include <cstdlib>
#include <locale.h>

namespace tessolin {

QString PrintC(double value, char conversion, int precision) {
    const std::chars_format form = conversion == 'e'   ? std::chars_format::scientific
                                   : conversion == 'f' ? std::chars_format::fixed
                                                       : std::chars_format::general;
    char buffer[400];  // "%.*f" of DBL_MAX needs 309 digits before the point
    const int digits = precision < 0 ? 6 : std::min(precision, 60);
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, form, digits);
    if (result.ec != std::errc()) return QString();
    return QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
}

bool ParseC(const QString& text, double* value, bool whole) {
    static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", nullptr);
    const QByteArray bytes = text.toUtf8();
    const char* begin = bytes.constData();
    char* end = nullptr;
    const double parsed = strtod_l(begin, &end, c_locale);
    if (end == begin) return false;
    if (whole) {
        while (*end == ' ' || *end == '\t') ++end;
        if (*end != '\0') return false;
    }
    *value = parsed;
    return true;
}

}  // namespace tessolin
