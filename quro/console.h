// The debug console layer. On Linux the library writes to the host process's standard output and
// error; "opening" the console only marks it open and titles a terminal.
#ifndef QURO_CONSOLE_H
#define QURO_CONSOLE_H

namespace quro {

// Whether open_console() has been called without a later close_console().
bool console_is_open();

}  // namespace quro

#endif  // QURO_CONSOLE_H
