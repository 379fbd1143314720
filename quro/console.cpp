#include "quro/console.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <mutex>

#include "quro/quro.h"
#include "quro/status.h"

namespace quro {
namespace {
std::mutex g_console_mutex;
bool g_console_open = false;

// Writes an escape sequence to standard output when it is a terminal; a pipe or file gets nothing.
void write_to_terminal(const char* sequence) {
    if (isatty(STDOUT_FILENO) == 1) {
        std::fputs(sequence, stdout);
        std::fflush(stdout);
    }
}
}  // namespace

bool console_is_open() {
    std::lock_guard<std::mutex> lock(g_console_mutex);
    return g_console_open;
}

}  // namespace quro

extern "C" QURO_API int open_console(void) {
    std::lock_guard<std::mutex> lock(quro::g_console_mutex);
    if (quro::g_console_open) return quro::kOk;
    quro::g_console_open = true;
    quro::write_to_terminal("\033]0;Debug Output\007");
    return quro::kOk;
}

extern "C" QURO_API int close_console(void) {
    std::lock_guard<std::mutex> lock(quro::g_console_mutex);
    if (!quro::g_console_open) return quro::kOk;
    // Descriptors 0 to 2 stay open: closing them would hand their numbers to the next file the
    // process opens, which would then receive later output.
    std::fflush(stdout);
    std::fflush(stderr);
    quro::g_console_open = false;
    return quro::kOk;
}

extern "C" QURO_API int clear_console(void) {
    std::lock_guard<std::mutex> lock(quro::g_console_mutex);
    if (quro::g_console_open) quro::write_to_terminal("\033[H\033[2J");
    return quro::kOk;
}

extern "C" QURO_API int write_line(void) {
    return quro::kOk;
}
