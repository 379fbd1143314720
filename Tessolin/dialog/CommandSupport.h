// Helpers shared by the command handlers: reading the parameter controls, checking them in order,
// formatting the status texts and timing a library call.
#ifndef TESSOLIN_COMMAND_SUPPORT_H
#define TESSOLIN_COMMAND_SUPPORT_H

#include <QString>
#include <chrono>
#include <initializer_list>

#include "dialog/ParamCheck.h"
#include "dialog/Texts.h"

namespace tessolin {

class CTessolinDlg;

// The value of the spinner whose edit is edit_id (NaN when there is none or its text is "nan").
double SpinValue(const CTessolinDlg& dialog, int edit_id);
// The current index of combo id, or 0 without the combo.
int ComboIndex(const CTessolinDlg& dialog, int id);
// Whether check box id is on.
bool Checked(const CTessolinDlg& dialog, int id);

struct ParamValue {
    Param param;
    double value;  // integer parameters hold their truncated value
};

// The message of the first value out of its range, or an empty string.
QString FirstFailure(std::initializer_list<ParamValue> values, int language);

// printf of the message in the language.
template <class... Args>
QString Format(const TextPair& text, int language, Args... args) {
    return QString::asprintf(language == 1 ? text.en : text.zh, args...);
}

class Stopwatch {
public:
    Stopwatch() : start_(std::chrono::steady_clock::now()) {}
    double Ms() const {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_)
            .count();
    }

private:
    std::chrono::steady_clock::time_point start_;
};

// "elapsed_time = %4lld ms\n" with whole milliseconds.
std::string ElapsedLine(double ms);

}  // namespace tessolin

#endif  // TESSOLIN_COMMAND_SUPPORT_H
