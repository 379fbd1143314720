#include <QAbstractButton>
#include <QLineEdit>
#include <opencv2/imgproc.hpp>
#include <tuple>

#include "core/ContrastEstimate.h"
#include "platform/ControlIds.h"
#include "tests/dialog_fixture.h"
#include "widgets/NumSpinCtrl.h"

namespace ids = tessolin::ids;
using tessolin::EstimateContrastParams;

namespace {

constexpr int kContrastEdits[] = {ids::kContrastLowEdit, ids::kContrastHighEdit,
                                  ids::kMinContrastEdit, ids::kMinCompSizeEdit};

// Grey 60 left of the middle column, 180 right of it, with Gaussian noise of sigma 4.
cv::Mat NoisyStep(cv::Size size) {
    cv::Mat image(size, CV_16SC1, cv::Scalar(60)), noise(size, CV_16SC1);
    image.colRange(size.width / 2, size.width).setTo(180);
    cv::RNG(7).fill(noise, cv::RNG::NORMAL, 0, 4);
    cv::Mat(image + noise).convertTo(image, CV_8U);
    return image;
}

const cv::Mat kColour(64, 64, CV_8UC3, cv::Scalar(20, 90, 200));

class ContrastTest : public DialogTest {
protected:
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (int id : kContrastEdits)
            texts.push_back(dialog->Spin(id)->BuddyEdit()->text().toStdString());
        return texts;
    }
};

// Flat images: the fallback thresholds 1, 2 and 1 on every level.
TEST(ContrastEstimate, LevelCountAndComponentSizeCandidateFollowTheSmallerSide) {
    const std::tuple<int, int, int, double> cases[] = {{2048, 2048, 9, 28}, {8, 8, 1, 1},
                                                       {100, 8, 1, 1},      {40, 40, 3, 4},
                                                       {64, 90, 4, 8},      {300, 256, 6, 16}};
    for (const auto& [cols, rows, levels, candidate] : cases) {
        const auto e = tessolin::EstimatePyramidContrast(cv::Mat(rows, cols, CV_8UC1, 90), 0.375);
        EXPECT_EQ(std::tuple(e.analysed, e.levels, e.component_size),
                  std::tuple(true, levels, candidate))
            << cols << "x" << rows;
        EXPECT_EQ(std::tuple(e.low, e.high, e.min_contrast), std::tuple(1.0, 2.0, 1.0));
    }
}

TEST(ContrastEstimate, ImagesTooSmallOrTooLargeAreNotAnalysedButColourThrows) {
    for (const cv::Size size : {cv::Size(0, 0), cv::Size(1, 1), cv::Size(2, 50),
                                cv::Size(2049, 100), cv::Size(100, 2049)})
        EXPECT_FALSE(EstimateContrastParams(cv::Mat(size, CV_8UC1, cv::Scalar(0)), 0.375).analysed)
            << size;
    EXPECT_THROW(EstimateContrastParams(kColour, 0.5), cv::Exception);
    EXPECT_THROW(tessolin::to8U_AutoContrast_MinMax(kColour), cv::Exception);
}

// 300 x 256: six levels, candidate 16. One bright disc: about its radius (half the contour
// diameter), at least 5, at most the candidate; no disc, no contour: the candidate.
TEST(ContrastEstimate, ComponentSizeIsLimitedByHalfTheLargestContourDiameter) {
    const std::tuple<int, double, double> cases[] = {
        {10, 9, 11}, {2, 5, 5}, {60, 16, 16}, {0, 16, 16}};
    for (const auto& [radius, low, high] : cases) {
        cv::Mat image(256, 300, CV_8UC1, cv::Scalar(40));
        if (radius > 0)
            cv::circle(image, {150, 128}, radius, cv::Scalar(200), cv::FILLED, cv::LINE_AA);
        const auto e = EstimateContrastParams(image, 0.375);
        EXPECT_TRUE(e.component_size >= low && e.component_size <= high)
            << radius << ": " << e.component_size;
    }
}

TEST_F(ContrastTest, OnlyAnalysedImagesFillTheSpinnersAndWithOrderedWholeNumbers) {
    for (int id : kContrastEdits) dialog->Spin(id)->BuddyEdit()->setText("0.5");
    for (const cv::Mat& image : {cv::Mat(100, 2049, CV_8UC1, cv::Scalar(0)), cv::Mat(), kColour})
        dialog->EstimateContrast(0.375, image);
    EXPECT_EQ(Texts(), std::vector<std::string>(4, "0.5"));
    dialog->setModelImage(NoisyStep({200, 160}), cv::Mat());
    dialog->OnCommandId(ids::kToolbarButton1);
    EXPECT_EQ(dialog->State().contrast_ratio, 0.25f);
    double v[4];  // low, high, min contrast, component size
    for (int i = 0; i < 4; ++i) v[i] = dialog->Spin(kContrastEdits[i])->GetPos();
    for (const std::string& t : Texts()) EXPECT_EQ(t.find_first_not_of("0123456789"), t.npos) << t;
    EXPECT_TRUE(v[1] >= v[0] && v[0] >= 1 && v[2] <= v[0] && v[3] >= 5)
        << v[0] << " " << v[1] << " " << v[2] << " " << v[3];
}

TEST_F(ContrastTest, RatioButtonsWithTheRoiBoxOnOnlyFlagTheTimer) {
    dialog->OnCommandId(ids::kToolbarButton3);  // no model image: nothing happens
    EXPECT_EQ(dialog->State().contrast_ratio, 0.375f);
    EXPECT_FALSE(dialog->State().roi_changed);
    dialog->setModelImage(NoisyStep({200, 160}), cv::Mat());
    dialog->Controls().As<QAbstractButton>(ids::kRoi)->setChecked(true);
    const auto before = Texts();
    for (auto [id, ratio] : {std::pair{ids::kToolbarButton1, 0.25f},
                             {ids::kToolbarButton2, 0.375f},
                             {ids::kToolbarButton3, 0.5f}}) {
        dialog->OnTimer();  // what the press before asked for is done
        ASSERT_FALSE(dialog->State().roi_changed || dialog->State().image_redraw.Pending());
        dialog->OnCommandId(id);
        EXPECT_EQ(dialog->State().contrast_ratio, ratio);
        EXPECT_TRUE(dialog->State().roi_changed);
        EXPECT_TRUE(dialog->State().image_redraw.Pending());
    }
    EXPECT_EQ(dialog->State().image_redraw.Shows(), tessolin::ViewRedraw::Content::kPlain);
    EXPECT_EQ(Texts(), before);
    dialog->ResetContrastRatio();
    EXPECT_EQ(dialog->State().contrast_ratio, 0.375f);
}

}  // namespace
