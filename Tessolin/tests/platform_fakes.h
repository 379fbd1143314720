// Test stand-ins for the desktop's file dialogs and prompts: answers are taken from a queue,
// questions are recorded.
#ifndef TESSOLIN_TESTS_PLATFORM_FAKES_H
#define TESSOLIN_TESTS_PLATFORM_FAKES_H

#include <QString>
#include <QStringList>
#include <deque>

#include "platform/Platform.h"

namespace tessolin {

// Answers run dry as an empty path and "no".
class FakeFileDialogs : public FileDialogs {
public:
    QString OpenFile(QWidget*, const QString& title, const QString&) override {
        return Next(title);
    }
    QString SaveFile(QWidget*, const QString& title, const QString&) override {
        return Next(title);
    }
    std::deque<QString> answers;
    QStringList titles;

private:
    QString Next(const QString& title);
};

class FakePrompts : public Prompts {
public:
    void Message(QWidget*, const QString& text) override { messages << text; }
    bool Ask(QWidget*, const QString& text) override;
    std::deque<bool> answers;
    QStringList messages;
};

inline QString FakeFileDialogs::Next(const QString& title) {
    titles << title;
    if (answers.empty()) return QString();
    QString path = answers.front();
    answers.pop_front();
    return path;
}

inline bool FakePrompts::Ask(QWidget*, const QString& text) {
    messages << text;
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
}

}  // namespace tessolin

#endif  // TESSOLIN_TESTS_PLATFORM_FAKES_H
