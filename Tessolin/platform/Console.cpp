#include "platform/Console.h"

#include <unistd.h>

#include <cstdio>

#include "quro/quro.h"

namespace tessolin {

void Console::Open() {
    if (open_) return;
    open_ = true;
    if (!sink_) open_console();  // the library marks its console open and titles a terminal
}

void Console::Close() {
    if (!open_) return;
    std::fflush(stdout);
    open_ = false;
    if (!sink_) close_console();
}

bool Console::Print(std::string_view text) {
    if (!open_) return false;
    Write(text);
    return true;
}

bool Console::Cls() {
    if (!open_) return false;
    if (!sink_ && !isatty(fileno(stdout))) return false;  // nothing to clear in a file or pipe
    Write(kClearSequence);
    return true;
}

void Console::Write(std::string_view text) {
    if (sink_) {
        sink_(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace tessolin
