// CTessolinApp: start-up of the program. Refuses to run twice for one user, then runs the main
// dialog modally. The caller constructs the QApplication first.
#ifndef TESSOLIN_TESSOLIN_APP_H
#define TESSOLIN_TESSOLIN_APP_H

#include "platform/Platform.h"

namespace tessolin {

class CTessolinApp {
public:
    // prompts may be null (the desktop's message box is used). lock_dir: where the single-instance
    // lock lives (empty: the per-user runtime directory).
    explicit CTessolinApp(Prompts* prompts = nullptr, QString lock_dir = QString());
    // Returns the process exit code: 0 after the dialog closed, 1 when another instance runs.
    int InitInstance(const DialogOptions& options = {});

private:
    std::unique_ptr<Prompts> own_prompts_;
    Prompts* prompts_;
    QString lock_dir_;
};

// Call right after constructing QApplication: Qt adopts the user's locale, under which the C
// runtime would read "0.5" as 0 and print "0,5".
void UseCNumericLocale();

}  // namespace tessolin

#endif  // TESSOLIN_TESSOLIN_APP_H
