#include "platform/Platform.h"

#include <QFileDialog>
#include <QMessageBox>

namespace tessolin {
namespace {

class QtFileDialogs : public FileDialogs {
public:
    QString OpenFile(QWidget* parent, const QString& title, const QString& filter) override {
        return QFileDialog::getOpenFileName(parent, title, QString(), filter);
    }
    QString SaveFile(QWidget* parent, const QString& title, const QString& filter) override {
        return QFileDialog::getSaveFileName(parent, title, QString(), filter);
    }
};

class QtPrompts : public Prompts {
public:
    void Message(QWidget* parent, const QString& text) override {
        QMessageBox::information(parent, QStringLiteral("Tessolin"), text);
    }
    bool Ask(QWidget* parent, const QString& text) override {
        return QMessageBox::question(parent, QStringLiteral("Tessolin"), text) == QMessageBox::Yes;
    }
};

}  // namespace

std::unique_ptr<FileDialogs> MakeQtFileDialogs() {
    return std::make_unique<QtFileDialogs>();
}
std::unique_ptr<Prompts> MakeQtPrompts() {
    return std::make_unique<QtPrompts>();
}

}  // namespace tessolin
