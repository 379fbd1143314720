#include "dialog/DialogLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSpinBox>
#include <span>

#include "platform/ControlIds.h"
#include "widgets/ClickLabel.h"
#include "widgets/NumSpinCtrl.h"

namespace tessolin {
namespace {

enum class Kind {
    kLabel,
    kButton,
    kCheck,
    kGroup,
    kEdit,
    kSpin,       // a CNumSpinCtrl, under its edit's id and the spinner id (edit id + 1)
    kPlainSpin,  // a QSpinBox, likewise
    kCombo,
    kPlaceholder,
    kVScroll,
    kHScroll
};

struct Place {
    int id;
    Kind kind;
    int x, y, w, h;
};

// Right-hand panel: two groups of rows, each row two label + control pairs (or one wide control
// per column). Labels, combo boxes and buttons are as wide as their longest text in either
// language needs (12 points Chinese, 10 points English); a combo box's drop-down may be wider.
constexpr int kPanelX = 1058, kPanelW = 520;
constexpr int kColumns[2] = {1068, 1324};
constexpr int kLabelW = 118, kFieldOffset = 120, kFieldW = 70, kComboW = 128, kRowH = 26;
constexpr int kButtonW = 126, kButtonStep = 130;
constexpr int kCreateTop = 386, kSearchTop = 628;
constexpr int kCreatePitch = 30, kSearchPitch = 29;

using K = Kind;

// Controls outside the two groups. Groups first, so that they lie below the controls they frame.
constexpr Place kPlaces[] = {
    {1069, K::kGroup, kPanelX, kCreateTop, kPanelW, 234},
    {1081, K::kGroup, kPanelX, kSearchTop, kPanelW, 318},
    {ids::kImageView, K::kPlaceholder, 8, 8, 1026, 925},
    {ids::kVScroll, K::kVScroll, 1034, 8, 16, 925},
    {ids::kHScroll, K::kHScroll, 8, 933, 1026, 16},
    {ids::kModelView, K::kPlaceholder, kPanelX, 8, 400, 300},
    {1006, K::kButton, kPanelX, 316, kButtonW, 28},
    {1046, K::kButton, kPanelX + kButtonStep, 316, kButtonW, 28},
    {1042, K::kButton, kPanelX + 2 * kButtonStep, 316, kButtonW, 28},
    {1043, K::kButton, kPanelX + 3 * kButtonStep, 316, kButtonW, 28},
    {1076, K::kButton, 1058, 350, 44, 28},
    {1062, K::kButton, 1108, 350, 60, 28},
    {1002, K::kButton, 1174, 350, 60, 28},
    {1093, K::kCheck, 1244, 350, 100, 28},
    {1041, K::kCheck, 1350, 350, 100, 28},
    // Hidden buttons of the console and of the contour command.
    {ids::kPrint, K::kButton, 0, 0, 1, 1},
    {ids::kCloseConsole, K::kButton, 0, 0, 1, 1},
    {ids::kOpenConsole, K::kButton, 0, 0, 1, 1},
    {ids::kSubPixelContour1, K::kButton, 0, 0, 1, 1},
    {ids::kSubPixelContour2, K::kButton, 0, 0, 1, 1},
    // The step spinners have no place of their own.
    {ids::kAngleStepEdit, K::kSpin, 0, 0, 1, 1},
    {ids::kScaleStepEdit, K::kSpin, 0, 0, 1, 1},
};

// One column of a row: a label (id, or 0 with a caption) and its control, or, with label_id -1,
// one control across the column.
struct Cell {
    int label_id;
    int control_id;
    Kind kind;
    const char* caption = nullptr;
};
struct Row {
    Cell cells[2];
};

constexpr Row kCreateRows[] = {
    {{{1070, 1049, K::kSpin}, {1071, 1051, K::kSpin}}},
    {{{1072, 1053, K::kSpin}, {1079, 1044, K::kSpin}}},
    {{{1080, 1055, K::kSpin}, {1098, ids::kMetricCombo, K::kCombo}}},
    {{{1077, ids::kLength1Edit, K::kEdit}, {1078, ids::kLength2Edit, K::kEdit}}},
    {{{0, ids::kDxEdit, K::kEdit, "DX"}, {0, ids::kDyEdit, K::kEdit, "DY"}}},
    {{{-1, ids::kIgnorePolarity, K::kCheck}, {-1, ids::kCreateModel, K::kButton}}},
};

constexpr Row kSearchRows[] = {
    {{{1082, 1029, K::kSpin}, {1083, 1031, K::kSpin}}},
    {{{1084, 1037, K::kSpin}, {1085, 1039, K::kSpin}}},
    {{{1086, 1025, K::kSpin}, {1087, 1027, K::kSpin}}},
    {{{1088, 1035, K::kSpin}, {1089, 1033, K::kSpin}}},
    {{{1090, 1067, K::kSpin}, {ids::kScaleModeLabel, ids::kScaleModeCombo, K::kCombo}}},
    {{{ids::kSubPixelLabel, ids::kSubPixelCombo, K::kCombo},
      {1092, ids::kMaxDeformationCombo, K::kCombo}}},
    {{{ids::kDrawLabel, ids::kDrawCombo, K::kCombo}, {-1, ids::kCrossBorder, K::kCheck}}},
    {{{ids::kDisplayScoreLabel, ids::kDisplayScoreEdit, K::kSpin},
      {ids::kDetailsContrastLabel, ids::kDetailsContrastEdit, K::kPlainSpin}}},
    {{{-1, ids::kFindModel, K::kButton}, {-1, ids::kFindModels, K::kButton}}},
    {{{-1, ids::kClearModels, K::kButton}, {-1, ids::kFindLargeImage, K::kButton}}},
};

// Top of row `row` of a group; the create group leaves a gap after its first row for the
// toolbar.
constexpr int RowY(int top, int row, bool toolbar_gap) {
    return top + 24 + (toolbar_gap ? kCreatePitch : kSearchPitch) * row +
           (toolbar_gap && row > 0 ? 28 : 0);
}

QWidget* Make(Kind kind, QWidget* parent) {
    switch (kind) {
        case Kind::kLabel:
            return new QLabel(parent);
        case Kind::kButton: {
            auto* button = new QPushButton(parent);
            button->setAutoDefault(false);
            return button;
        }
        case Kind::kCheck:
            return new QCheckBox(parent);
        case Kind::kGroup:
            return new QGroupBox(parent);
        case Kind::kEdit:
            return new QLineEdit(parent);
        case Kind::kSpin:
            return new CNumSpinCtrl(parent);
        case Kind::kPlainSpin:
            return new QSpinBox(parent);
        case Kind::kCombo:
            return new QComboBox(parent);
        case Kind::kPlaceholder:
            return new QWidget(parent);
        case Kind::kVScroll:
            return new QScrollBar(Qt::Vertical, parent);
        case Kind::kHScroll:
            return new QScrollBar(Qt::Horizontal, parent);
    }
    return nullptr;
}

bool IsHidden(int id) {
    return id == ids::kPrint || id == ids::kCloseConsole || id == ids::kOpenConsole ||
           id == ids::kSubPixelContour1 || id == ids::kSubPixelContour2 ||
           id == ids::kAngleStepEdit || id == ids::kScaleStepEdit || id == ids::kIgnorePolarity;
}

}  // namespace

void BuildControls(QWidget* dialog, ControlMap& controls) {
    auto add = [&](int id, Kind kind, QRect rect, const char* caption) {
        // The scale mode and draw labels take double-clicks.
        QWidget* widget = id == ids::kScaleModeLabel || id == ids::kDrawLabel
                              ? new ClickLabel(dialog)
                              : Make(kind, dialog);
        widget->setGeometry(rect);
        if (caption) static_cast<QLabel*>(widget)->setText(QString::fromUtf8(caption));
        if (id != 0) controls.Add(id, widget);
        if (kind == Kind::kSpin || kind == Kind::kPlainSpin) controls.Add(id + 1, widget);
        if (IsHidden(id)) widget->hide();
    };
    for (const Place& place : kPlaces)
        add(place.id, place.kind, QRect(place.x, place.y, place.w, place.h), nullptr);
    auto add_rows = [&](std::span<const Row> rows, int top, bool toolbar_gap) {
        for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
            const int y = RowY(top, r, toolbar_gap);
            for (int c = 0; c < 2; ++c) {
                const Cell& cell = rows[r].cells[c];
                const int x = kColumns[c];
                if (cell.label_id < 0) {
                    add(cell.control_id, cell.kind, QRect(x, y, kLabelW + kFieldOffset, kRowH),
                        nullptr);
                    continue;
                }
                add(cell.label_id, Kind::kLabel, QRect(x, y, kLabelW, kRowH), cell.caption);
                const int w = cell.kind == Kind::kCombo ? kComboW : kFieldW;
                add(cell.control_id, cell.kind, QRect(x + kFieldOffset, y, w, kRowH), nullptr);
            }
        }
    };
    add_rows(kCreateRows, kCreateTop, true);
    add_rows(kSearchRows, kSearchTop, false);
}

QRect StatusLabelRect() {
    return {8, 955, kDialogSize.width() - 16, 30};
}
QRect ToolbarRect() {
    return {kColumns[0], RowY(kCreateTop, 0, false) + kRowH + 2, 380, 26};
}

}  // namespace tessolin
