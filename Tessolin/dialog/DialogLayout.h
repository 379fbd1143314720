// The dialog's controls at fixed places, each registered in the control map under its id.
#ifndef TESSOLIN_DIALOG_LAYOUT_H
#define TESSOLIN_DIALOG_LAYOUT_H

#include <QSize>

#include "platform/ControlMap.h"

class QWidget;

namespace tessolin {

inline constexpr QSize kDialogSize{1586, 993};

// Creates every control of the dialog except the status label (the dialog makes that one).
// Captions are left empty: the language pass writes them.
void BuildControls(QWidget* dialog, ControlMap& controls);

// Where the status label and the toolbar go.
QRect StatusLabelRect();
QRect ToolbarRect();

}  // namespace tessolin

#endif  // TESSOLIN_DIALOG_LAYOUT_H
