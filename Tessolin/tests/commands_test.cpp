#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <opencv2/imgproc.hpp>
#include <span>

#include "platform/ControlIds.h"
#include "quro/quro.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"
#include "widgets/NumSpinCtrl.h"

namespace ids = tessolin::ids;

namespace {

struct Field {
    int id;
    const char* text;
};

// A dark image with a bright L shape whose corner is at (x, y).
cv::Mat LScene(int x, int y) {
    cv::Mat image(160, 200, CV_8UC1, cv::Scalar(30));
    cv::rectangle(image, cv::Rect(x, y, 60, 20), cv::Scalar(200), cv::FILLED);
    cv::rectangle(image, cv::Rect(x, y, 20, 50), cv::Scalar(200), cv::FILLED);
    return image;
}

class CommandTest : public DialogTest {
protected:
    QLineEdit* Edit(int id) const {
        auto* spin = dialog->Spin(id);
        return spin ? spin->BuddyEdit() : dialog->Controls().As<QLineEdit>(id);
    }
    void Set(std::initializer_list<Field> fields) {
        for (const Field& f : fields) Edit(f.id)->setText(QString::fromUtf8(f.text));
    }
    std::string Status() const { return dialog->StatusLabel()->text().toStdString(); }
    bool Red() const { return dialog->StatusLabel()->BkColor() == QColor(255, 0, 0); }
    void CreateFromRoi(cv::Point a, cv::Point b) {
        dialog->Controls().As<QAbstractButton>(ids::kRoi)->setChecked(true);
        dialog->SetRoiCorners(a, b);
        dialog->OnCommandId(ids::kCreateModel);
    }
};

struct CheckCase {
    std::vector<Field> fields;
    int language;
    const char* status;  // the exact status; refused ones are red
};

TEST_F(CommandTest, CreateAndFindCheckTheirParametersInOrderAndStopAtTheFirstFailure) {
    const CheckCase create[] = {
        {{{ids::kContrastLowEdit, "20"}, {ids::kContrastHighEdit, "10"}}, 0,
         "参数错误: [对比度(低)]=(20) > [对比度(高)]=(10)"},
        {{{ids::kContrastLowEdit, "10"}, {ids::kContrastHighEdit, "10"}}, 0, "图像为空"},
        {{{ids::kMinCompSizeEdit, "200"}}, 0, "图像为空"},
        {{{ids::kMinCompSizeEdit, "201"}}, 0, "参数错误: [最小组件尺寸]=(201),范围应该在[1, 200]之间"},
        {{{ids::kNumLevelsEdit, "-1"}}, 0, "图像为空"},
        {{{ids::kNumLevelsEdit, "-2"}}, 1, "Para Error: [NumLevels]=(-2),out of range [-1, 10]"},
        {{{ids::kMinCompSizeEdit, "201"}, {ids::kContrastLowEdit, "0"}}, 0,
         "参数错误: [对比度(低)]=(0),范围应该在[1, 255]之间"},
    };
    const CheckCase find[] = {
        {{{ids::kNumMatchesEdit, "0"}}, 0, "尚未创建模板"},
        {{{ids::kNumMatchesEdit, "3001"}}, 0, "参数错误: [目标数量]=(3001),范围应该在[0, 3000]之间"},
        {{{ids::kScaleMinEdit, "1.2"}, {ids::kScaleMaxEdit, "1.0"}}, 0,
         "参数错误，scale_min = 1.20, scale_max = 1.00"},
        {{{ids::kAngleStartEdit, "180.5"}}, 1,
         "Para Error: [AngleStart]=(180.5),out of range [-180.0, 180.0]"},
        {{{ids::kMinScoreEdit, "nan"}}, 0, "参数错误: [最小得分]=(nan),范围应该在[0.10, 1.00]之间"},
        {{{ids::kMaxOverlapEdit, "2"}, {ids::kNumLevelsEdit, "11"}}, 1,
         "Para Error: [MaxOverlap]=(2.00),out of range [0.00, 1.00]之间"},
        {{{ids::kNumLevelsEdit, "11"}}, 1, "Para Error: [Pyramid]=(11),out of range [-1, 10]"},
    };
    dialog->setSearchImage(cv::Mat(40, 40, CV_8UC1, cv::Scalar(0)));
    std::vector<std::pair<int, QString>> defaults;
    for (int id : {ids::kContrastLowEdit, ids::kContrastHighEdit, ids::kMinCompSizeEdit,
                   ids::kNumLevelsEdit, ids::kNumMatchesEdit, ids::kScaleMinEdit,
                   ids::kScaleMaxEdit, ids::kAngleStartEdit, ids::kMinScoreEdit,
                   ids::kMaxOverlapEdit})
        defaults.emplace_back(id, Edit(id)->text());
    for (int command : {ids::kCreateModel, ids::kFindModel}) {
        for (const CheckCase& c : command == ids::kCreateModel ? std::span(create) : std::span(find)) {
            for (const auto& [id, text] : defaults) Edit(id)->setText(text);
            dialog->ApplyLanguage(c.language);
            for (const Field& f : c.fields) Set({f});
            dialog->OnCommandId(command);
            EXPECT_EQ(Status(), c.status) << c.fields[0].text;
            EXPECT_TRUE(Red());
            EXPECT_TRUE(dialog->State().held_model_ids.empty());
        }
    }
}

TEST_F(CommandTest, RoiWithACornerOnTheColumnCountIsOutsideAndCreatesNothing) {
    dialog->setSearchImage(LScene(50, 50));
    CreateFromRoi({40, 40}, {200, 120});
    EXPECT_EQ(Status(), "outside");
    EXPECT_TRUE(Red());
    EXPECT_TRUE(dialog->State().held_model_ids.empty());
}

TEST_F(CommandTest, OutlineModelGetsABlankModelImageAndClearModelsFreesEveryHeldId) {
    Set({{ids::kLength1Edit, "50"}, {ids::kLength2Edit, "0"}});
    dialog->OnCommandId(ids::kCreateModel);
    EXPECT_EQ(Status().rfind("模板创建成功，id = 0, ", 0), 0u) << Status();
    EXPECT_FALSE(Red());
    EXPECT_EQ(dialog->State().held_model_ids, std::vector<int>{0});
    EXPECT_EQ(dialog->State().model_img.size(), cv::Size(104, 104));
    EXPECT_EQ(cv::countNonZero(dialog->State().model_img), 0);
    ASSERT_EQ(dialog->State().model_outlines.size(), 1u);
    EXPECT_FALSE(dialog->State().model_outlines[0].points.empty());
    dialog->OnCommandId(ids::kClearModels);
    EXPECT_TRUE(dialog->State().held_model_ids.empty());
    EXPECT_EQ(clear_shape_model(0), -1);
}

TEST_F(CommandTest, RoiModelIsFoundAtTheShiftAndNothingFoundEmptiesTheDrawing) {
    dialog->DebugConsole().Open();
    dialog->setSearchImage(LScene(50, 50));
    CreateFromRoi({35, 35}, {125, 115});
    ASSERT_EQ(dialog->State().held_model_ids.size(), 1u) << Status();
    dialog->Controls().As<QAbstractButton>(ids::kRoi)->setChecked(false);
    dialog->OnTimer();  // the ROI the model came from is painted in red, not only the ROI box
    cv::Mat red;
    cv::inRange(dialog->State().image_view_buf, cv::Scalar(0, 0, 255), cv::Scalar(0, 0, 255), red);
    EXPECT_GT(cv::countNonZero(red), 100);
    Set({{ids::kNumMatchesEdit, "1"}});
    dialog->Controls().As<QComboBox>(ids::kSubPixelCombo)->setCurrentIndex(1);
    dialog->OnCommandId(ids::kFindModel);
    ASSERT_EQ(dialog->State().match_drawings.size(), 1u) << Status();
    const auto c0 = dialog->State().match_drawings[0].crosses.at(0);

    dialog->setSearchImage(LScene(57, 55));
    for (int subpixel : {1, 0}) {
        console_out.clear();
        dialog->Controls().As<QComboBox>(ids::kSubPixelCombo)->setCurrentIndex(subpixel);
        dialog->OnCommandId(ids::kFindModel);
        EXPECT_EQ(Status().rfind("模板匹配成功,1个匹配点找到在 ", 0), 0u) << Status();
        ASSERT_EQ(dialog->State().match_drawings.size(), 1u);
        const auto c1 = dialog->State().match_drawings[0].crosses.at(0);
        const double tolerance = subpixel ? 0.5 : 1.0;  // integer positions round the shift
        EXPECT_NEAR(c1[0] - c0[0], 7.0, tolerance);
        EXPECT_NEAR(c1[1] - c0[1], 5.0, tolerance);
        EXPECT_FALSE(dialog->State().match_drawings[0].points.empty());
        // "%10.3f" with a sub-pixel argument, else "%5d".
        const size_t at = console_out.find("i =   1, x = ");
        ASSERT_NE(at, std::string::npos) << console_out;
        const std::string x = console_out.substr(at + 13, console_out.find(',', at + 13) - at - 13);
        EXPECT_EQ(x.size(), subpixel ? 10u : 5u) << console_out;
        EXPECT_EQ(x.find('.') != std::string::npos, subpixel != 0) << console_out;
    }

    dialog->setSearchImage(cv::Mat(160, 200, CV_8UC1, cv::Scalar(30)));
    dialog->OnCommandId(ids::kFindModel);
    EXPECT_EQ(Status().rfind("模板匹配成功,0个匹配点找到在 ", 0), 0u) << Status();
    EXPECT_TRUE(dialog->State().match_drawings.empty());
}

TEST_F(CommandTest, StaleMaskSmallerThanTheModelImageIsNotPassed) {
    dialog->setSearchImage(LScene(50, 50));
    dialog->setModelImage(cv::Mat(8, 8, CV_8UC1, cv::Scalar(0)),
                          cv::Mat(8, 8, CV_8UC1, cv::Scalar(255)));
    CreateFromRoi({35, 35}, {125, 115});
    EXPECT_TRUE(dialog->State().mask.empty());
    dialog->setModelImage(dialog->State().model_img,
                          cv::Mat(8, 8, CV_8UC3, cv::Scalar(255, 255, 255)));
    dialog->Controls().As<QAbstractButton>(ids::kRoi)->setChecked(false);
    dialog->OnCommandId(ids::kCreateModel);
    EXPECT_EQ(dialog->State().held_model_ids.size(), 2u) << Status();
}

}  // namespace
