#include "DialogLayout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>

#include "ControlIds.h"

namespace tessolin {
namespace {

enum class Kind {
    kLabel,
    kButton,
    kCheck,
    kGroup,
    kEdit,
    kCombo,
    kPlaceholder,
    kVScroll,
    kHScroll
};

struct Place {
    int id;  // 0: a label without id (its caption is given)
    Kind kind;
    int x, y, w, h;
    const char* caption = nullptr;
};

// Right-hand panel: two columns of label + control pairs inside the two groups.
constexpr int kPanelX = 1058;
constexpr int kColA = 1068, kColB = 1252, kLabelW = 100, kFieldOffset = 102, kFieldW = 70;
constexpr int kRowH = 26;

constexpr Place Label(int id, int col, int y) {
    return {id, Kind::kLabel, col, y, kLabelW, kRowH};
}
constexpr Place Field(int id, Kind kind, int col, int y) {
    return {id,   kind, col + kFieldOffset, y, kind == Kind::kCombo && col == kColB ? 100 : kFieldW,
            kRowH};
}
constexpr Place Wide(int id, Kind kind, int col, int y) {
    return {id, kind, col, y, kLabelW + kFieldOffset, kRowH};
}

using K = Kind;
constexpr int kCreateTop = 386, kSearchTop = 628;
constexpr int R(int top, int row) {
    return top + 24 + 30 * row;
}
// The create group leaves a gap after its first row for the toolbar.
constexpr int C(int row) {
    return R(kCreateTop, row) + (row > 0 ? 28 : 0);
}

// Groups first, so that they lie below the controls they frame.
constexpr Place kPlaces[] = {
    {1069, K::kGroup, kPanelX, kCreateTop, 400, 234},
    {1081, K::kGroup, kPanelX, kSearchTop, 400, 300},
    {ids::kImageView, K::kPlaceholder, 8, 8, 1026, 925},
    {ids::kVScroll, K::kVScroll, 1034, 8, 16, 925},
    {ids::kHScroll, K::kHScroll, 8, 933, 1026, 16},
    {ids::kModelView, K::kPlaceholder, kPanelX, 8, 400, 300},
    {1006, K::kButton, 1058, 316, 98, 28},
    {1046, K::kButton, 1160, 316, 98, 28},
    {1042, K::kButton, 1262, 316, 96, 28},
    {1043, K::kButton, 1362, 316, 96, 28},
    {1076, K::kButton, 1058, 350, 44, 28},
    {1062, K::kButton, 1108, 350, 60, 28},
    {1002, K::kButton, 1174, 350, 60, 28},
    {1093, K::kCheck, 1244, 350, 100, 28},
    {1041, K::kCheck, 1350, 350, 100, 28},
    // Create group.
    Label(1070, kColA, C(0)),
    Field(1049, K::kEdit, kColA, C(0)),
    Label(1071, kColB, C(0)),
    Field(1051, K::kEdit, kColB, C(0)),
    Label(1072, kColA, C(1)),
    Field(1053, K::kEdit, kColA, C(1)),
    Label(1079, kColB, C(1)),
    Field(1044, K::kEdit, kColB, C(1)),
    Label(1080, kColA, C(2)),
    Field(1055, K::kEdit, kColA, C(2)),
    Label(1098, kColB, C(2)),
    Field(ids::kMetricCombo, K::kCombo, kColB, C(2)),
    Label(1077, kColA, C(3)),
    Field(ids::kLength1Edit, K::kEdit, kColA, C(3)),
    Label(1078, kColB, C(3)),
    Field(ids::kLength2Edit, K::kEdit, kColB, C(3)),
    {0, K::kLabel, kColA, C(4), kLabelW, kRowH, "DX"},
    Field(ids::kDxEdit, K::kEdit, kColA, C(4)),
    {0, K::kLabel, kColB, C(4), kLabelW, kRowH, "DY"},
    Field(ids::kDyEdit, K::kEdit, kColB, C(4)),
    Wide(1048, K::kCheck, kColA, C(5)),
    Wide(ids::kCreateModel, K::kButton, kColB, C(5)),
    // Search group.
    Label(1082, kColA, R(kSearchTop, 0)),
    Field(1029, K::kEdit, kColA, R(kSearchTop, 0)),
    Label(1083, kColB, R(kSearchTop, 0)),
    Field(1031, K::kEdit, kColB, R(kSearchTop, 0)),
    Label(1084, kColA, R(kSearchTop, 1)),
    Field(1037, K::kEdit, kColA, R(kSearchTop, 1)),
    Label(1085, kColB, R(kSearchTop, 1)),
    Field(1039, K::kEdit, kColB, R(kSearchTop, 1)),
    Label(1086, kColA, R(kSearchTop, 2)),
    Field(1025, K::kEdit, kColA, R(kSearchTop, 2)),
    Label(1087, kColB, R(kSearchTop, 2)),
    Field(1027, K::kEdit, kColB, R(kSearchTop, 2)),
    Label(1088, kColA, R(kSearchTop, 3)),
    Field(1035, K::kEdit, kColA, R(kSearchTop, 3)),
    Label(1089, kColB, R(kSearchTop, 3)),
    Field(1033, K::kEdit, kColB, R(kSearchTop, 3)),
    Label(1090, kColA, R(kSearchTop, 4)),
    Field(1067, K::kEdit, kColA, R(kSearchTop, 4)),
    Label(ids::kScaleModeLabel, kColB, R(kSearchTop, 4)),
    Field(ids::kScaleModeCombo, K::kCombo, kColB, R(kSearchTop, 4)),
    Label(ids::kSubPixelLabel, kColA, R(kSearchTop, 5)),
    Field(ids::kSubPixelCombo, K::kCombo, kColA, R(kSearchTop, 5)),
    Label(1092, kColB, R(kSearchTop, 5)),
    Field(ids::kMaxDeformationCombo, K::kCombo, kColB, R(kSearchTop, 5)),
    Label(ids::kDrawLabel, kColA, R(kSearchTop, 6)),
    Field(ids::kDrawCombo, K::kCombo, kColA, R(kSearchTop, 6)),
    Wide(ids::kCrossBorder, K::kCheck, kColB, R(kSearchTop, 6)),
    Wide(ids::kFindModel, K::kButton, kColA, R(kSearchTop, 7)),
    Wide(ids::kFindModels, K::kButton, kColB, R(kSearchTop, 7)),
    Wide(ids::kClearModels, K::kButton, kColA, R(kSearchTop, 8)),
    Wide(ids::kFindLargeImage, K::kButton, kColB, R(kSearchTop, 8)),
    // Hidden buttons of the console and of the contour command.
    {ids::kPrint, K::kButton, 0, 0, 1, 1},
    {ids::kCloseConsole, K::kButton, 0, 0, 1, 1},
    {ids::kOpenConsole, K::kButton, 0, 0, 1, 1},
    {ids::kSubPixelContour1, K::kButton, 0, 0, 1, 1},
    {ids::kSubPixelContour2, K::kButton, 0, 0, 1, 1},
};

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
           id == ids::kSubPixelContour1 || id == ids::kSubPixelContour2;
}

}  // namespace

void BuildControls(QWidget* dialog, ControlMap& controls) {
    for (const Place& place : kPlaces) {
        QWidget* widget = Make(place.kind, dialog);
        widget->setGeometry(place.x, place.y, place.w, place.h);
        if (place.caption) static_cast<QLabel*>(widget)->setText(QString::fromUtf8(place.caption));
        if (place.id != 0) controls.Add(place.id, widget);
        if (IsHidden(place.id)) widget->hide();
    }
}

QRect StatusLabelRect() {
    return {8, 955, 1450, 30};
}
QRect ToolbarRect() {
    return {kColA, C(0) + kRowH + 2, 380, 26};
}

}  // namespace tessolin
