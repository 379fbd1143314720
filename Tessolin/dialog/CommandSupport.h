// Helpers shared by the command handlers: reading the parameter controls, checking them in order,
// formatting the status texts and timing a library call.
#ifndef TESSOLIN_COMMAND_SUPPORT_H
#define TESSOLIN_COMMAND_SUPPORT_H

#include <QElapsedTimer>
#include <QString>
#include <initializer_list>
#include <string>

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

// Milliseconds since timer started. The program times its commands with Qt's monotonic
// QElapsedTimer: the library's own stopwatch is internal to it, and quro/quro.h is all the program
// sees of the library.
double ElapsedMs(const QElapsedTimer& timer);

// "elapsed_time = %4lld ms\n" with whole milliseconds.
std::string ElapsedLine(double ms);

}  // namespace tessolin

#endif  // TESSOLIN_COMMAND_SUPPORT_H
