// Set-up of the parameter controls and the handlers of the scale controls.
#include <QComboBox>
#include <QLineEdit>
#include <QScrollBar>
#include <QSpinBox>
#include <cmath>
#include <limits>

#include "dialog/ParamCheck.h"
#include "dialog/TessolinDlg.h"
#include "platform/ControlIds.h"
#include "widgets/CNumber.h"
#include "widgets/ClickLabel.h"
#include "widgets/Label.h"
#include "widgets/NumSpinCtrl.h"

namespace tessolin {
namespace {

struct SpinSetup {
    int edit_id;
    double min, max, step;
    int decimals;
    double initial;
};

constexpr SpinSetup kSpins[] = {
    {ids::kMinScoreEdit, 0.1, 1, 0.05, 2, 0.5},
    {ids::kDisplayScoreEdit, 0, 1, 0.05, 2, 0.5},
    {ids::kMaxOverlapEdit, 0, 1, 0.05, 2, 0.5},
    {ids::kAngleStartEdit, -180, 180, 1, 1, 0},
    {ids::kAngleExtentEdit, 0, 360, 1, 1, 360},
    {ids::kNumMatchesEdit, 0, 3000, 1, 0, 0},
    {ids::kGreedinessEdit, 0, 1, 0.05, 2, 0.75},
    {ids::kScaleMinEdit, 0.3, 2, 0.1, 1, 1},
    {ids::kScaleMaxEdit, 0.3, 2, 0.1, 1, 1},
    {ids::kMinContrastEdit, 1, 255, 1, 0, 5},
    {ids::kContrastLowEdit, 1, 255, 1, 0, 10},
    {ids::kContrastHighEdit, 1, 255, 1, 0, 15},
    {ids::kMinCompSizeEdit, 1, 200, 1, 0, 5},
    {ids::kNumLevelsEdit, -1, 10, 1, 0, 0},
    {ids::kLowestLevelEdit, 1, 10, 1, 0, 1},
    {ids::kAngleStepEdit, 0, 11.25, 0.001, 4, 0},
    {ids::kScaleStepEdit, 0, 1, 0.001, 4, 0},
};

constexpr double kFloatEditLimit = 1000.0;
enum ScaleMode { kScaleNone = 0, kIsotropic = 1, kAnisotropic = 2, kDeformable = 3 };

}  // namespace

CNumSpinCtrl* CTessolinDlg::Spin(int id) const {
    return controls_.As<CNumSpinCtrl>(id);
}

void CTessolinDlg::SetupControls() {
    setSizeGripEnabled(false);  // the size itself is fixed at construction
    if (QWidget* view = controls_.Get(ids::kImageView)) {
        const QRect r(view->pos(), state_.image_view_size);
        view->setGeometry(r);
        if (auto* v = controls_.As<QScrollBar>(ids::kVScroll))
            v->setGeometry(r.right() + 1, r.top(), v->width(), r.height());
        if (auto* h = controls_.As<QScrollBar>(ids::kHScroll))
            h->setGeometry(r.left(), r.bottom() + 1, r.width(), h->height());
    }
    for (int id : {ids::kVScroll, ids::kHScroll}) {
        if (auto* bar = controls_.As<QScrollBar>(id)) {
            bar->setRange(0, 1);
            bar->setPageStep(1);
            bar->setValue(0);
        }
    }

    QFont status_font;
    status_font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("Noto Sans CJK SC"),
                             QStringLiteral("WenQuanYi Micro Hei")});
    status_font.setPixelSize(22);
    status_font.setBold(true);
    status_->setFont(status_font);

    for (const SpinSetup& s : kSpins) {
        CNumSpinCtrl* spin = Spin(s.edit_id);
        if (!spin) continue;
        spin->SetRangeAndDelta(s.min, s.max, s.step);
        spin->SetDecimals(s.decimals);
        spin->SetPos(s.initial);
    }
    if (auto* details = controls_.As<QSpinBox>(ids::kDetailsContrastSpin)) {
        details->setRange(3, 255);
        details->setValue(10);
    }

    RefillCombos();
    const std::pair<int, int> kSelections[] = {{ids::kMetricCombo, 2},
                                               {ids::kScaleModeCombo, 0},
                                               {ids::kSubPixelCombo, 0},
                                               {ids::kMaxDeformationCombo, 0},
                                               {ids::kDrawCombo, 0}};
    for (const auto& [id, index] : kSelections)
        if (auto* combo = controls_.As<QComboBox>(id)) combo->setCurrentIndex(index);

    if (auto* mode = controls_.As<QComboBox>(ids::kScaleModeCombo))
        connect(mode, qOverload<int>(&QComboBox::currentIndexChanged), this,
                &CTessolinDlg::OnCbnSelchangeScaleMode);
    if (auto* label = controls_.As<ClickLabel>(ids::kScaleModeLabel))
        connect(label, &ClickLabel::doubleClicked, this, &CTessolinDlg::OnStnDblclkScaleMode);
}

void CTessolinDlg::OnCbnSelchangeScaleMode() {
    const auto* mode = controls_.As<QComboBox>(ids::kScaleModeCombo);
    const bool scaled = mode && mode->currentIndex() != kScaleNone;
    for (int id : {ids::kScaleMinEdit, ids::kScaleMaxEdit})
        if (QWidget* w = controls_.Get(id)) w->setEnabled(scaled);
}

void CTessolinDlg::OnStnDblclkScaleMode() {
    if (!UpdateData(true)) return;
    const auto* mode_combo = controls_.As<QComboBox>(ids::kScaleModeCombo);
    CNumSpinCtrl* lo = Spin(ids::kScaleMinEdit);
    CNumSpinCtrl* hi = Spin(ids::kScaleMaxEdit);
    if (!mode_combo || !lo || !hi) return;
    const int mode = mode_combo->currentIndex();
    if (mode <= kScaleNone) return;
    if (std::fabs(lo->GetPos() - hi->GetPos()) >= std::numeric_limits<double>::epsilon()) {
        lo->SetPos(1.0);
        hi->SetPos(1.0);
    } else if (mode == kDeformable) {
        lo->SetPos(0.9);
        hi->SetPos(1.1);
    } else {
        lo->SetPos(0.5);
        hi->SetPos(2.0);
    }
    UpdateData(false);
}

bool CTessolinDlg::UpdateData(bool save) {
    struct Field {
        int id;
        const char* name;
        float* value;
    };
    const Field fields[] = {{ids::kDxEdit, "DX", &state_.dx},
                            {ids::kDyEdit, "DY", &state_.dy},
                            {ids::kLength1Edit, "Length1", &state_.length1},
                            {ids::kLength2Edit, "Length2", &state_.length2}};
    if (!save) {
        for (const Field& f : fields)
            if (auto* edit = controls_.As<QLineEdit>(f.id)) edit->setText(PrintC(*f.value, 'g'));
        return true;
    }
    float read[4];
    for (int i = 0; i < 4; ++i) {
        const auto* edit = controls_.As<QLineEdit>(fields[i].id);
        if (!edit) {
            read[i] = *fields[i].value;
            continue;
        }
        double v = 0.0;
        if (!ParseC(edit->text(), &v, true) || !(-kFloatEditLimit <= v && v <= kFloatEditLimit)) {
            ShowStatus(RangeMessage(QString::fromLatin1(fields[i].name), edit->text(),
                                    -kFloatEditLimit, kFloatEditLimit, state_.language),
                       1);
            return false;
        }
        read[i] = static_cast<float>(v);
    }
    for (int i = 0; i < 4; ++i) *fields[i].value = read[i];
    return true;
}

}  // namespace tessolin
