// Painting, zoom, pan and ROI editing of the two views: the pure view arithmetic and rendering
// against plain references, and the dialog's handlers driven through its mouse callbacks.
#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QScrollBar>
#include <cmath>
#include <opencv2/highgui.hpp>
#include <opencv2/imgproc.hpp>

#include "core/ViewMath.h"
#include "core/ViewRender.h"
#include "platform/ControlIds.h"
#include "tests/dialog_fixture.h"

namespace ids = tessolin::ids;
using namespace tessolin;

namespace {

const cv::Size kView(1026, 925);

int CountColour(const cv::Mat& bgr, cv::Vec3b colour) {
    int n = 0;
    for (auto it = bgr.begin<cv::Vec3b>(); it != bgr.end<cv::Vec3b>(); ++it) n += *it == colour;
    return n;
}

// An image and the ROI box on, at zoom 1 with the image at the view's origin.
void PrepareRoiScene(CTessolinDlg& d) {
    d.setSearchImage(cv::Mat(600, 800, CV_8UC1, cv::Scalar(90)));
    d.SetImagePose({1.0f, {0.0f, 0.0f}});
    d.SetRoiCorners({50, 50}, {250, 250});
    d.Controls().As<QCheckBox>(ids::kRoi)->setChecked(true);
}

}  // namespace

TEST(ViewMath, PressesGrabCornersMoveTheRoiOrPan) {
    const cv::Point2f c1(50, 50), c2(250, 250);
    const struct {
        cv::Point p;
        bool box_on;
        DragMode mode;
    } cases[] = {{{59, 50}, true, kCorner11},   {{241, 59}, true, kCorner21},
                 {{259, 259}, true, kCorner22}, {{50, 241}, true, kCorner12},
                 {{61, 61}, true, kMoveRoi},    {{39, 100}, true, kPan},
                 {{150, 150}, false, kPan},     {{261, 150}, true, kPan}};
    for (const auto& c : cases) EXPECT_EQ(HitRoi(c1, c2, c.p, c.box_on), c.mode) << c.p;
}

TEST(ViewMath, WheelZoomsStopAtTheirLimits) {
    const cv::Size image(800, 600);
    EXPECT_EQ(WindowWheelZoom({1.05f, {30, 40}}, image, kView, {300, 300}, false).zoom, 1.0f);
    ViewPose down{1.0f, {0, 0}}, up = down;
    for (int i = 0; i < 40; ++i) {
        down = DialogWheelZoom(down, image, kView, {500, 400}, false);
        up = DialogWheelZoom(up, image, kView, {500, 400}, true);
    }
    EXPECT_EQ(down.zoom, 0.025f);
    EXPECT_EQ(down.offset, CentredPose(image, kView, 0.025f).offset);
    EXPECT_EQ(up.zoom, 128.0f);
}

TEST(ViewMath, OneToOneKeepsTheImagePointUnderThePlace) {
    const cv::Size image(4096, 3072);
    const cv::Point place(400, 300);
    for (const ViewPose& pose : {ViewPose{0.25f, {17, 23}}, ViewPose{2.5f, {-900, -400}},
                                 ViewPose{0.8f, {5, 5}}, ViewPose{1.0f, {-33, 12}}}) {
        const ViewPose out = OneToOne(pose, image, kView, place);
        EXPECT_EQ(out.zoom, 1.0f);
        EXPECT_NEAR(float(place.x) - out.offset.x, (float(place.x) - pose.offset.x) / pose.zoom, 1);
        EXPECT_NEAR(float(place.y) - out.offset.y, (float(place.y) - pose.offset.y) / pose.zoom, 1);
    }
}

TEST(ViewMath, FitCentresTheImage) {
    for (const cv::Size image : {cv::Size(4096, 3072), cv::Size(300, 900), cv::Size(10, 10)}) {
        const float fit = FitZoom(image, kView);
        const ViewPose pose = CentredPose(image, kView, fit);
        const cv::Point2f far = pose.offset + cv::Point2f(image) * fit;
        EXPECT_NEAR(pose.offset.x, float(kView.width) - far.x, 1.0f) << image;
        EXPECT_NEAR(pose.offset.y, float(kView.height) - far.y, 1.0f) << image;
        EXPECT_TRUE(std::fabs(pose.offset.x) <= 0.5f || std::fabs(pose.offset.y) <= 0.5f) << image;
    }
}

TEST(ViewMath, ScrollStepsStayInRange) {
    const struct {
        int code, pos, thumb, max, expected;
    } cases[] = {{kLineUp, 1, 0, 50, 0},          {kLineDown, 49, 0, 50, 50},
                 {kLineDown, 4, 0, 50, 6},        {kPageUp, 30, 0, 50, 20},
                 {kPageDown, 45, 0, 50, 50},      {kThumbTrack, 0, 33, 50, 33},
                 {kThumbPosition, 0, 70, 50, 50}, {8, 5, 0, 50, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(ScrollPosition(c.code, c.pos, c.thumb, c.max), c.expected) << c.code;
}

TEST(ViewRender, ResamplingMatchesThePerPixelFormula) {
    cv::Mat source(37, 53, CV_8UC3), grey(37, 53, CV_8UC1);
    cv::randu(source, 0, 256);
    cv::randu(grey, 0, 256);
    const cv::Mat background(70, 90, CV_8UC1, cv::Scalar(40));
    for (const ViewPose& pose : {ViewPose{1.0f, {0, 0}}, ViewPose{2.0f, {0, 0}},
                                 ViewPose{0.37f, {3.5f, -2.0f}}, ViewPose{2.6f, {-11.3f, 4.7f}}}) {
        for (const cv::Mat& src : {source, grey}) {
            cv::Mat out;
            RenderView(background, src, pose, out);
            cv::Mat bgr = src;
            if (src.channels() == 1) cv::cvtColor(src, bgr, cv::COLOR_GRAY2BGR);
            int wrong = 0;
            for (int y = 0; y < out.rows; ++y)
                for (int x = 0; x < out.cols; ++x) {
                    const float sx = roundf((float(x) - pose.offset.x) / pose.zoom);
                    const float sy = roundf((float(y) - pose.offset.y) / pose.zoom);
                    const bool in = sx >= 0 && sy >= 0 && sx < src.cols && sy < src.rows;
                    const cv::Vec3b want =
                        in ? bgr.at<cv::Vec3b>(int(sy), int(sx)) : cv::Vec3b(40, 40, 40);
                    wrong += out.at<cv::Vec3b>(y, x) != want;
                }
            EXPECT_EQ(wrong, 0) << pose.zoom;
        }
    }
    cv::Mat twice;  // at zoom 2 every source pixel covers 2x2
    RenderView(background, source, {2.0f, {0.5f, 0.5f}}, twice);
    for (int k = 0; k < 30; ++k)
        for (const cv::Point d :
             {cv::Point(0, 0), cv::Point(1, 0), cv::Point(0, 1), cv::Point(1, 1)})
            EXPECT_EQ(twice.at<cv::Vec3b>(2 * k + d.y, 2 * k + d.x), source.at<cv::Vec3b>(k, k));
}

TEST(ViewRender, FlaggedPointsAreRedOthersGreenAndMarkersMagenta) {
    cv::Mat view(100, 100, CV_8UC3, cv::Scalar::all(0));
    MatchDrawing flagged, plain;
    flagged.points = {{20, 20, 1, 0}, {60, 60, 0, 1}};
    flagged.point_flags = {0, 1};
    plain.points = {{80, 20, 1, 1}};
    plain.points.push_back({500, 500, 1, 0});  // outside: skipped
    DrawRecords(view, {flagged, plain}, {1.0f, {0, 0}}, 2);
    EXPECT_EQ(view.at<cv::Vec3b>(20, 20), cv::Vec3b(0, 255, 0));
    EXPECT_EQ(view.at<cv::Vec3b>(60, 60), cv::Vec3b(0, 0, 255));
    EXPECT_EQ(view.at<cv::Vec3b>(20, 80), cv::Vec3b(0, 255, 0));

    const cv::Vec3b magenta(255, 0, 255);
    cv::Mat disc(40, 40, CV_8UC3, cv::Scalar::all(0)), pixel = disc.clone();
    DrawMarker(disc, 2.0f, 10, 10, 0, 0, 3);  // centre (20, 20)
    DrawMarker(pixel, 1.0f, 7, 9, 0, 0, 0);
    for (const cv::Point p : {cv::Point(20, 20), cv::Point(22, 20), cv::Point(20, 18)})
        EXPECT_EQ(disc.at<cv::Vec3b>(p), magenta) << p;
    EXPECT_NE(disc.at<cv::Vec3b>(20, 23), magenta);
    EXPECT_NE(disc.at<cv::Vec3b>(22, 22), magenta);
    EXPECT_EQ(CountColour(pixel, magenta), 1);
    EXPECT_EQ(pixel.at<cv::Vec3b>(9, 7), magenta);
}

TEST_F(DialogTest, DraggingTheRoiEndsInANormalisedRectangleAndOneEstimate) {
    PrepareRoiScene(*dialog);
    auto mouse = [&](int event, int x, int y) {
        CTessolinDlg::OnImageMouse(event, x, y, 0, dialog.get());
    };
    mouse(cv::EVENT_LBUTTONDOWN, 258, 243);  // 8 px from (x2, y2)
    mouse(cv::EVENT_MOUSEMOVE, 20, 263);     // far left of x1
    EXPECT_FALSE(dialog->State().roi_changed);
    mouse(cv::EVENT_LBUTTONUP, 20, 263);
    EXPECT_EQ(dialog->State().roi, cv::Rect(12, 50, 38, 220));
    EXPECT_TRUE(dialog->State().roi_changed);
    dialog->OnTimer();
    EXPECT_FALSE(dialog->State().roi_changed);

    mouse(cv::EVENT_LBUTTONDOWN, 400, 400);  // outside: pans, and leaves the ROI alone
    mouse(cv::EVENT_MOUSEMOVE, 430, 390);
    mouse(cv::EVENT_LBUTTONUP, 430, 390);
    EXPECT_EQ(dialog->State().image_offset, cv::Point2f(30, -10));
    EXPECT_EQ(dialog->State().roi, cv::Rect(12, 50, 38, 220));
    EXPECT_FALSE(dialog->State().roi_changed);
}

TEST_F(DialogTest, TimerPaintsOnceAndTheRoiOnlyWithTheBoxOn) {
    PrepareRoiScene(*dialog);
    dialog->Controls().As<QCheckBox>(ids::kRoi)->setChecked(false);
    dialog->OnTimer();
    EXPECT_EQ(dialog->State().image_redraw.Shows(), ViewRedraw::Content::kPlain);
    EXPECT_FALSE(dialog->State().image_redraw.Pending());
    ASSERT_EQ(dialog->State().image_view_buf.size(), kView);
    EXPECT_EQ(CountColour(dialog->State().image_view_buf, {0, 255, 0}), 0);
    dialog->Controls().As<QCheckBox>(ids::kRoi)->setChecked(true);
    dialog->OnTimer();  // nothing pending: nothing painted, so no ROI yet
    EXPECT_EQ(CountColour(dialog->State().image_view_buf, {0, 255, 0}), 0);

    ASSERT_TRUE(dialog->OnCommandId(ids::kRoi));
    EXPECT_TRUE(dialog->State().roi_changed);
    dialog->OnTimer();
    EXPECT_FALSE(dialog->State().image_redraw.Pending());
    EXPECT_EQ(dialog->State().image_view_buf.at<cv::Vec3b>(50, 150), cv::Vec3b(0, 255, 0));
    EXPECT_EQ(dialog->State().image_view_buf.at<cv::Vec3b>(100, 120), cv::Vec3b(90, 90, 90));
}

TEST_F(DialogTest, EmptyViewsIgnoreZoomAndScrollButPaintTheModelBackground) {
    dialog->OnContextMenu(dialog->ImageView()->View()->viewport()->mapToGlobal(QPoint(300, 200)));
    ASSERT_EQ(dialog->State().menu_view, 1);
    for (int id : {ids::kZoomFit, ids::kZoomOneToOne}) ASSERT_TRUE(dialog->OnCommandId(id));
    dialog->OnHScroll(kLineDown, 0);
    CTessolinDlg::OnImageMouse(cv::EVENT_MOUSEWHEEL, 100, 100, -120 << 16, dialog.get());
    EXPECT_EQ(dialog->State().image_zoom, 1.0f);
    EXPECT_EQ(dialog->State().image_offset, cv::Point2f(0, 0));
    EXPECT_EQ(dialog->State().image_redraw.Shows(), ViewRedraw::Content::kNothing);
    EXPECT_FALSE(dialog->State().image_redraw.Pending());

    // A model with an outline and no image.
    dialog->SetModelPose({1.0f, cv::Point2f(dialog->State().model_offset)});
    std::vector<MatchDrawing> outline(1);
    outline[0].points = {{10, 10, 1, 0}};
    dialog->ShowModelOutlines(std::move(outline));
    dialog->OnTimer();
    ASSERT_FALSE(dialog->State().model_buf.empty());
    EXPECT_EQ(dialog->State().model_buf.at<cv::Vec3b>(10, 10), cv::Vec3b(0, 255, 0));
    EXPECT_EQ(dialog->State().model_buf.at<cv::Vec3b>(30, 30), cv::Vec3b(30, 30, 30));
}

TEST_F(DialogTest, TinyModelAtLowestZoomSurvivesAWheelStepWithoutDividingByZero) {
    dialog->setModelImage(cv::Mat(10, 10, CV_8UC1, cv::Scalar(200)), cv::Mat());
    for (int delta : {-120, 120}) {
        dialog->SetModelPose({0.025f, cv::Point2f(dialog->State().model_offset)});
        CTessolinDlg::OnModelMouse(cv::EVENT_MOUSEWHEEL, 100, 100, delta << 16, dialog.get());
        const cv::Size view(dialog->State().model_view_size.width(),
                            dialog->State().model_view_size.height());
        EXPECT_EQ(dialog->State().model_offset,
                  cv::Point(CentredPose({10, 10}, view, 0.025f).offset));
    }
}

TEST_F(DialogTest, ViewMenuZoomsTheViewItWasOpenedOver) {
    dialog->ApplyLanguage(1);
    dialog->setSearchImage(cv::Mat(3072, 4096, CV_8UC1, cv::Scalar(10)));
    QWidget* viewport = dialog->ImageView()->View()->viewport();
    dialog->OnContextMenu(viewport->mapToGlobal(QPoint(300, 200)));
    ASSERT_TRUE(dialog->ViewMenu());
    EXPECT_EQ(dialog->State().menu_view, 1);
    QStringList texts;
    for (QAction* a : dialog->ViewMenu()->actions()) texts << a->text();
    EXPECT_EQ(texts, QStringList({"Line width: 1", "Line width: 2", "Save ROI image",
                                  "Show feature points", "1:1", "Fit to window"}));
    dialog->ViewMenu()->actions()[5]->trigger();
    EXPECT_FLOAT_EQ(dialog->State().image_zoom, 1026.0f / 4096.0f);
    dialog->ViewMenu()->actions()[4]->trigger();
    EXPECT_EQ(dialog->State().image_zoom, 1.0f);

    auto* bar = dialog->Controls().As<QScrollBar>(ids::kHScroll);  // image pixels beyond the view
    EXPECT_EQ(bar->maximum(), 4096 - 1026);
    const int before = bar->value();
    dialog->OnHScroll(kPageDown, 0);
    EXPECT_EQ(bar->value(), before + 10);
    EXPECT_EQ(dialog->State().image_offset.x, -float(before + 10));

    dialog->ViewPressed(nullptr);  // the dialog's wheel: x1.25 about the cursor
    dialog->OnMouseWheel(120, viewport->mapToGlobal(QPoint(300, 200)));
    EXPECT_EQ(dialog->State().image_zoom, 1.25f);
    dialog->OnMouseWheel(120, viewport->mapToGlobal(QPoint(-5, 200)));  // beside the view
    EXPECT_EQ(dialog->State().image_zoom, 1.25f);

    dialog->DebugConsole().Open();
    dialog->OnStnDblclkDraw();
    EXPECT_EQ(console_out, "mRatioColor = 0.375\n");
}
