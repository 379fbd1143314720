// What the dialog asks of the desktop, behind interfaces so that tests run without it: file
// dialogs, message prompts, and the options of a dialog (start-up notice, console).
#ifndef TESSOLIN_PLATFORM_H
#define TESSOLIN_PLATFORM_H

#include <QString>
#include <memory>

class QWidget;

namespace tessolin {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen path, or an empty string when the user cancelled.
    virtual QString OpenFile(QWidget* parent, const QString& title, const QString& filter) = 0;
    virtual QString SaveFile(QWidget* parent, const QString& title, const QString& filter) = 0;
};

class Prompts {
public:
    virtual ~Prompts() = default;
    virtual void Message(QWidget* parent, const QString& text) = 0;
    // True for "yes".
    virtual bool Ask(QWidget* parent, const QString& text) = 0;
};

struct DialogOptions {
    bool notice = true;   // the start-up notice window
    bool console = true;  // open the debug console at start-up
};

// The desktop's own dialogs.
std::unique_ptr<FileDialogs> MakeQtFileDialogs();
std::unique_ptr<Prompts> MakeQtPrompts();

}  // namespace tessolin

#endif  // TESSOLIN_PLATFORM_H
