#include "app/TessolinApp.h"

#include <clocale>

#include "dialog/TessolinDlg.h"
#include "dialog/Texts.h"
#include "platform/SingleInstance.h"

namespace tessolin {

void UseCNumericLocale() {
    std::setlocale(LC_NUMERIC, "C");
}

CTessolinApp::CTessolinApp(Prompts* prompts, QString lock_dir)
    : prompts_(prompts), lock_dir_(std::move(lock_dir)) {
    if (!prompts_) {
        own_prompts_ = MakeQtPrompts();
        prompts_ = own_prompts_.get();
    }
}

int CTessolinApp::InitInstance(const DialogOptions& options) {
    SingleInstance instance(QStringLiteral("Tessolin"), lock_dir_);
    if (!instance.TryAcquire()) {
        prompts_->Message(nullptr, QString::fromUtf8(text::kAlreadyRunning));
        return 1;
    }
    CTessolinDlg dialog(options);
    dialog.exec();
    return 0;
}

}  // namespace tessolin
