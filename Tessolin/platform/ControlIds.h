// Numeric ids of the dialog's controls, menu items and toolbar buttons. Every control is reached
// through these ids (ControlMap), and every menu or toolbar action through OnCommandId.
#ifndef TESSOLIN_CONTROL_IDS_H
#define TESSOLIN_CONTROL_IDS_H

namespace tessolin::ids {

// Hidden console buttons and the console's CLS button.
inline constexpr int kPrint = 1000;
inline constexpr int kCloseConsole = 1001;
inline constexpr int kCls = 1002;
inline constexpr int kOpenConsole = 1003;
inline constexpr int kSubPixelContour1 = 1004;
inline constexpr int kSubPixelContour2 = 1005;

// Images and views.
inline constexpr int kSelectImage = 1006;
inline constexpr int kImageView = 1007;
inline constexpr int kVScroll = 1009;
inline constexpr int kHScroll = 1010;
inline constexpr int kModelView = 1061;

// Commands.
inline constexpr int kFindModel = 1019;
inline constexpr int kCreateModel = 1020;
inline constexpr int kStatus = 1023;
inline constexpr int kRoi = 1041;
inline constexpr int kLoadModel = 1042;
inline constexpr int kSaveModel = 1043;
inline constexpr int kSelectModelImage = 1046;
inline constexpr int kMore = 1062;
inline constexpr int kCrossBorder = 1063;
inline constexpr int kLanguage = 1076;
inline constexpr int kConsole = 1093;
inline constexpr int kIgnorePolarity = 1048;  // hidden: no search reads it
inline constexpr int kClearModels = 1096;
inline constexpr int kFindModels = 1097;
inline constexpr int kFindLargeImage = 1103;

// Edits of the numeric spinners (the spinner of each edit has the edit's id + 1).
inline constexpr int kMinScoreEdit = 1025;
inline constexpr int kMaxOverlapEdit = 1027;
inline constexpr int kAngleStartEdit = 1029;
inline constexpr int kAngleExtentEdit = 1031;
inline constexpr int kNumMatchesEdit = 1033;
inline constexpr int kGreedinessEdit = 1035;
inline constexpr int kScaleMinEdit = 1037;
inline constexpr int kScaleMaxEdit = 1039;
inline constexpr int kMinContrastEdit = 1044;
inline constexpr int kContrastLowEdit = 1049;
inline constexpr int kContrastHighEdit = 1051;
inline constexpr int kNumLevelsEdit = 1053;
inline constexpr int kMinCompSizeEdit = 1055;
inline constexpr int kAngleStepEdit = 1057;
inline constexpr int kScaleStepEdit = 1059;
inline constexpr int kLowestLevelEdit = 1067;
inline constexpr int kDetailsContrastEdit = 1101;
inline constexpr int kDetailsContrastSpin = 1102;
inline constexpr int kDisplayScoreEdit = 1105;

// Float edits.
inline constexpr int kDxEdit = 1065;
inline constexpr int kDyEdit = 1066;
inline constexpr int kLength1Edit = 1073;
inline constexpr int kLength2Edit = 1074;

// Combo boxes.
inline constexpr int kSubPixelCombo = 1064;
inline constexpr int kMaxDeformationCombo = 1075;
inline constexpr int kDrawCombo = 1094;
inline constexpr int kMetricCombo = 1099;
inline constexpr int kScaleModeCombo = 1104;

// Labels of the display score threshold and of the details contrast.
inline constexpr int kDisplayScoreLabel = 1107;
inline constexpr int kDetailsContrastLabel = 1108;

// Labels with their own colours.
inline constexpr int kSubPixelLabel = 1091;
inline constexpr int kDrawLabel = 1095;
inline constexpr int kScaleModeLabel = 1100;

// Menu items and toolbar buttons.
inline constexpr int kAbout = 16;
inline constexpr int kLineWidth1 = 32771;
inline constexpr int kLineWidth2 = 32772;
inline constexpr int kSaveRoiImage = 32773;
inline constexpr int kLoadShapeModel = 32774;
inline constexpr int kLoadPolygonModelPlus = 32775;
inline constexpr int kLoadXldContourModel = 32776;
inline constexpr int kShowFeaturePoints = 32777;
inline constexpr int kLoadPolygonModelMinus = 32778;
inline constexpr int kZoomOneToOne = 32779;
inline constexpr int kZoomFit = 32780;
inline constexpr int kToolbarButton1 = 32782;
inline constexpr int kToolbarButton2 = 32783;
inline constexpr int kToolbarButton3 = 32784;

}  // namespace tessolin::ids

#endif  // TESSOLIN_CONTROL_IDS_H
