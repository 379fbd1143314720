#include "dialog/Texts.h"

namespace tessolin {
namespace {

constexpr LabelText kLabels[] = {
    {1069, {"创建模板", "Create Model"}},
    {1070, {"对比度(低)", "Contrast Low"}},
    {1071, {"对比度(高)", "Contrast High"}},
    {1072, {"金字塔", "NumLevels"}},
    {1048, {"忽略极性", "Ignore Polarity"}},
    {1098, {"度量", "Metric"}},
    {1077, {"长半轴", "Length1"}},
    {1078, {"短半轴", "Length2"}},
    {1079, {"最小对比度", "MinContrast"}},
    {1080, {"最小组件尺寸", "MinCompSize"}},
    {1081, {"寻找模板", "Search Model"}},
    {1082, {"起始角度", "AngleStart"}},
    {1083, {"角度范围", "AngleExtent"}},
    {1084, {"最小比例", "ScaleMin"}},
    {1085, {"最大比例", "ScaleMax"}},
    {1086, {"最小得分", "MinScore"}},
    {1087, {"最大重叠", "MaxOverlap"}},
    {1088, {"贪婪度", "Greediness"}},
    {1089, {"目标数量", "NumMatches"}},
    {1090, {"终止金字塔", "Lowest Pyramid"}},
    {1063, {"与图像边缘相交", "Cross Img Border"}},
    {1100, {"缩放方式", "ScaleMode"}},
    {1091, {"亚像素", "SubPixel"}},
    {1092, {"最大变形", "MaxDeformation"}},
    {1095, {"显示", "Draw"}},
    {1107, {"显示阈值", "ShowScore"}},
    {1108, {"细节对比度", "DetailContrast"}},
    {1093, {"控制台", "Console"}},
    {1041, {"ROI", "ROI"}},
    {1062, {"更多", "More"}},
    {1002, {"CLS", "CLS"}},
    {1046, {"读取模板图像", "LoadDstImg"}},
    {1006, {"读取源图像", "LoadSrcImg"}},
    {1020, {"创建模板", "CreateModel"}},
    {1019, {"模板匹配", "SearchModel"}},
    {1042, {"加载模板", "LoadModel"}},
    {1043, {"保存模板", "SaveModel"}},
    {1097, {"多模板匹配", "SearchModels"}},
    {1096, {"清除模板", "ClearModels"}},
    {1103, {"超大图匹配", "SearchModel(Big)"}},
};

QStringList Pick(std::span<const TextPair> items, int language) {
    QStringList list;
    for (const TextPair& item : items) list << item.Get(language);
    return list;
}

}  // namespace

std::span<const LabelText> LabelTexts() {
    return kLabels;
}

QStringList ScaleModeItems(int language) {
    static constexpr TextPair kItems[] = {{"无", "none"},
                                          {"各向同性", "isotropic"},
                                          {"各向异性", "anisotropic"},
                                          {"局部可变形", "deformable"}};
    return Pick(kItems, language);
}

QStringList SubPixelItems(int language) {
    static constexpr TextPair kItems[] = {{"无", "none"},
                                          {"插值", "interpolation"},
                                          {"最小二乘法", "least-squares"},
                                          {"速度优先", "speed-first"}};
    return Pick(kItems, language);
}

QStringList MetricItems(int language) {
    static constexpr TextPair kItems[] = {
        {"忽略极性", "ignore global"}, {"忽略局部", "ignore local"}, {"使用极性", "use polarity"}};
    return Pick(kItems, language);
}

QStringList DrawItems(int language) {
    static constexpr TextPair kItems[] = {{"所有", "All"},
                                          {"轮廓", "Cont"},
                                          {"十字", "Cross"},
                                          {"分值", "Score"},
                                          {"无分值", "NoScore"}};
    return Pick(kItems, language);
}

QStringList MaxDeformationItems() {
    static constexpr int kValues[] = {0,  4,  5,  6,  7,  8,  9,  10, 11,
                                      12, 13, 14, 15, 16, 20, 24, 28, 32};
    QStringList list;
    for (int v : kValues) list << QString::number(v);
    return list;
}

namespace text {
const TextPair kWindowTitle = {"Tessolin 形状模板匹配", "Tessolin shape matching"};
const TextPair kLanguageButton = {"CH", "EN"};
const TextPair kLanguageHint = {"当前语言为中文,点击右边的按钮可以更改语言",
                                "The current language is English, click the right button to "
                                "change the language"};
const TextPair kNoticeTitle = {"通知", "Notice"};
const TextPair kRatioTip = {"对比度建议的边缘强度比例",
                            "edge strength ratio for the contrast proposal"};
const TextPair kNoticeBody = {
    "读取源图像和模板图像，框选 ROI 后创建模板，再进行模板匹配。",
    "Load a source image and a model image，draw the ROI，create the model，then search it."};
const char* const kAlreadyRunning = "Tessolin.exe已经打开!";
const char* const kPrintLine = "world class\n";
const TextPair kImageNull = {"图像为空", "image data is null"};
const TextPair kChannels = {"通道数 = %d 不受支持", "channels = %d not support"};
const TextPair kLowAboveHigh = {"参数错误: [对比度(低)]=(%d) > [对比度(高)]=(%d)",
                                "Para Error: [ContrastLow]=(%d) > [ContrastHigh]=(%d)"};
const TextPair kScaleOrder = {"参数错误，scale_min = %.2f, scale_max = %.2f",
                              "Para Error，scale_min = %.2f, scale_max = %.2f"};
const TextPair kNoModel = {"尚未创建模板", "No template created"};
const TextPair kCreateFailed = {"模板创建失败，err = %d, %.4f ms", "create model failed，err = %d, %.4f ms"};
const TextPair kCreated = {"模板创建成功，id = %d, %.4f ms", "create model succeeded，id = %d, %.4f ms"};
const TextPair kSearchFailed = {"模板匹配失败，err =%d, %.4f ms", "search model failed，err =%d, %.4f ms"};
const TextPair kSearched = {"模板匹配成功,%d个匹配点找到在 %.4f ms",
                            "search model succeeded,%d matches found in %.4f ms"};
// Images, model files and DXF models.
const TextPair kOpenImageChannels = {"打开图片,channels = %d not support",
                                     "open image,channels = %d not support"};
const TextPair kOpenImage = {"打开图片,width = %d, height = %d", "open image,width = %d, height = %d"};
const TextPair kSaveImageFailed = {"保存图片失败!", "save image failed!"};
const TextPair kSaveModelFailed = {"保存模板失败!", "save model failed!"};
const TextPair kModelSaved = {"保存模板成功!", "save model succeeded!"};
const TextPair kLoadModelFailed = {"读取模板失败!", "load model failed!"};
const TextPair kModelLoaded = {"读取模板成功!", "load model succeeded!"};
const TextPair kNumLevels = {"金字塔 = %d", "num_levels = %d"};
std::span<const MenuItem> LoadModelMenuItems() {
    static constexpr MenuItem kItems[] = {
        {32774, {"形状模板(.shm)", "ShapeModel(.shm)"}},
        {32775, {"多边形模板+(.dxf)", "PolygonModel+(.dxf)"}},
        {32778, {"多边形模板-(.dxf)", "PolygonModel-(.dxf)"}},
        {32776, {"XLD轮廓模板(.dxf)", "XLDContourModel(.dxf)"}},
    };
    return kItems;
}
const TextPair kMenuLineWidth1 = {"线宽：1", "Line width: 1"};
const TextPair kMenuLineWidth2 = {"线宽：2", "Line width: 2"};
const TextPair kMenuSaveRoiImage = {"保存ROI图像", "Save ROI image"};
const TextPair kMenuShowFeaturePoints = {"显示特征点", "Show feature points"};
const TextPair kMenuOneToOne = {"1：1", "1:1"};
const TextPair kMenuFit = {"适应屏幕", "Fit to window"};
const TextPair kMenuAbout = {"关于", "About"};
const TextPair kAboutBody = {"Tessolin 形状模板匹配工作台", "Tessolin shape matching workbench"};
const TextPair kNotEnoughModels = {"模板不足，至少需要一个", "Not enough templates. At least one are needed"};
const TextPair kSearchedTiled = {"模板匹配成功, %.4f ms", "search model succeeded, %.4f ms"};
}  // namespace text

}  // namespace tessolin
