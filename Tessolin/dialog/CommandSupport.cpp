#include "dialog/CommandSupport.h"

#include <QAbstractButton>
#include <QComboBox>
#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

#include "dialog/TessolinDlg.h"
#include "widgets/NumSpinCtrl.h"

namespace tessolin {

double SpinValue(const CTessolinDlg& dialog, int edit_id) {
    const CNumSpinCtrl* spin = dialog.Spin(edit_id);
    return spin ? spin->GetPos() : std::numeric_limits<double>::quiet_NaN();
}

int ComboIndex(const CTessolinDlg& dialog, int id) {
    const auto* combo = dialog.Controls().As<QComboBox>(id);
    return combo ? std::max(combo->currentIndex(), 0) : 0;
}

bool Checked(const CTessolinDlg& dialog, int id) {
    const auto* box = dialog.Controls().As<QAbstractButton>(id);
    return box && box->isChecked();
}

QString FirstFailure(std::initializer_list<ParamValue> values, int language) {
    for (const ParamValue& v : values) {
        QString message = CheckParam(v.param, v.value, language);
        if (!message.isEmpty()) return message;
    }
    return QString();
}

double ElapsedMs(const QElapsedTimer& timer) {
    return double(timer.nsecsElapsed()) / 1e6;
}

std::string ElapsedLine(double ms) {
    return QString::asprintf("elapsed_time = %4lld ms\n", static_cast<long long>(ms)).toStdString();
}

}  // namespace tessolin
