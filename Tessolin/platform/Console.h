// The debug console: the process's standard output, gated by an open flag. Closing only stops the
// output (stdout itself stays open, so the console can be opened again); CLS clears a terminal
// with an ANSI sequence and runs no shell. Tests install a capture hook that receives everything
// the console would write.
#ifndef TESSOLIN_CONSOLE_H
#define TESSOLIN_CONSOLE_H

#include <functional>
#include <string>
#include <string_view>

namespace tessolin {

class Console {
public:
    using Sink = std::function<void(std::string_view)>;

    void Open();
    void Close();
    bool IsOpen() const { return open_; }
    // Writes text while the console is open; returns whether it was written.
    bool Print(std::string_view text);
    // Clears the screen while the console is open and stdout is a terminal (or a sink is set).
    bool Cls();
    // Replaces stdout by sink (an empty sink restores stdout).
    void SetSink(Sink sink) { sink_ = std::move(sink); }

    static constexpr std::string_view kClearSequence = "\x1b[2J\x1b[H";

private:
    void Write(std::string_view text);
    bool open_ = false;
    Sink sink_;
};

}  // namespace tessolin

#endif  // TESSOLIN_CONSOLE_H
