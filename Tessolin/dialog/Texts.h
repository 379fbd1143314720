// Every text the program shows, as a Chinese / English pair (UTF-8). The language flag picks the
// half: 0 Chinese, 1 English.
#ifndef TESSOLIN_TEXTS_H
#define TESSOLIN_TEXTS_H

#include <QString>
#include <QStringList>
#include <array>
#include <span>

namespace tessolin {

struct TextPair {
    const char* zh;
    const char* en;
    QString Get(int language) const { return QString::fromUtf8(language == 1 ? en : zh); }
};

struct LabelText {
    int id;
    TextPair text;
};

// The captions of the dialog's labels, buttons, check boxes and groups.
std::span<const LabelText> LabelTexts();

// Item lists of the combo boxes in the given language.
QStringList ScaleModeItems(int language);
QStringList SubPixelItems(int language);
QStringList MetricItems(int language);
QStringList DrawItems(int language);
QStringList MaxDeformationItems();  // numbers, the same in both languages

namespace text {
extern const TextPair kWindowTitle;
extern const TextPair kLanguageButton;  // "CH" / "EN"
extern const TextPair kLanguageHint;
extern const TextPair kRatioTip;  // the contrast toolbar's ratio buttons
extern const TextPair kNoticeTitle;
extern const TextPair kNoticeBody;
extern const char* const kAlreadyRunning;
extern const char* const kPrintLine;
// Command messages; the printf ones take the values named in their comments.
extern const TextPair kImageNull;
extern const TextPair kChannels;        // %d channels
extern const TextPair kLowAboveHigh;    // %d low, %d high
extern const TextPair kScaleOrder;      // %.2f min, %.2f max
extern const TextPair kNoModel;
extern const TextPair kCreateFailed;    // %d code, %.4f ms
extern const TextPair kCreated;         // %d id, %.4f ms
extern const TextPair kSearchFailed;    // %d code, %.4f ms
extern const TextPair kSearched;        // %d matches, %.4f ms
// Images, model files and DXF models.
extern const TextPair kOpenImageChannels;  // %d channels
extern const TextPair kOpenImage;          // %d width, %d height
extern const TextPair kSaveImageFailed;
extern const TextPair kSaveModelFailed;
extern const TextPair kModelSaved;
extern const TextPair kLoadModelFailed;
extern const TextPair kModelLoaded;
extern const TextPair kNumLevels;          // %d levels
// Items of the load-model menu with their command ids, in menu order.
struct MenuItem {
    int id;
    TextPair text;
};
std::span<const MenuItem> LoadModelMenuItems();
// Items of the view menus, and the About text.
extern const TextPair kMenuLineWidth1;
extern const TextPair kMenuLineWidth2;
extern const TextPair kMenuSaveRoiImage;
extern const TextPair kMenuShowFeaturePoints;
extern const TextPair kMenuOneToOne;
extern const TextPair kMenuFit;
extern const TextPair kMenuAbout;
extern const TextPair kAboutBody;
extern const TextPair kNotEnoughModels;
extern const TextPair kSearchedTiled;   // %.4f ms (the large-image search: no count)
}  // namespace text

}  // namespace tessolin

#endif  // TESSOLIN_TEXTS_H
