#include <QComboBox>
#include <QLineEdit>
#include <cstdio>

#include "core/FindModes.h"
#include "platform/ControlIds.h"
#include "testing/bent_part_scene.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"
#include "widgets/NumSpinCtrl.h"

namespace ids = tessolin::ids;
namespace {

TEST(FieldSampling, ClampsOutsideTheRectangleAndSamplesTheLastSearchedLevel) {
    // Field at (10, 20) of level `last` (-1: no field), 5 x 4, displacement (0.5 u, 1); the match
    // at (x + 0.7, y + 0.2); outline point (px, py).
    quro::VectorField f;
    f.x = 10, f.y = 20, f.width = 5, f.height = 4;
    f.map_x = static_cast<float*>(std::malloc(80)), f.map_y = static_cast<float*>(std::malloc(80));
    for (int i = 0; i < 20; ++i) f.map_x[i] = 1.5f * float(i % 5), f.map_y[i] = float(i / 5) + 1;
    const float cases[][7] = {{2, 48, 84, 0, 0, 53.05f, 88.2f}, {0, 12, 21, 0.5f, 0, 14.8f, 22.2f},
                              {2, 0, 0, 0, 0, 0.7f, 4.2f},      {0, 1000, 500, 0, 0, 1002.7f, 501.2f},
                              {0, 12, 21, 0, NAN, 12.7f, NAN},  {-1, 48, 84, 1, 1, 49.7f, 85.2f}};
    for (const auto& c : cases) {
        quro::Match m;
        m.x = int(c[1]), m.y = int(c[2]), m.dx = 0.7f, m.dy = 0.2f;
        const auto at =
            tessolin::DeformedOutlinePoint(c[0] < 0 ? nullptr : &f, int(c[0]), m, c[3], c[4]);
        EXPECT_NEAR(at[0], c[5], 1e-4f) << c[1];  // a NaN point is placed rigidly
        EXPECT_TRUE(std::isnan(c[6]) ? std::isnan(at[1]) : std::fabs(at[1] - c[6]) < 1e-4f);
    }
    const int plans[][4] = {{0, 3, 2, 2}, {0, 0, 3, 1}, {2, 0, 3, 0}, {0, 0, 13, 1}, {4, 9, 0, 0}};
    for (const auto& c : plans) EXPECT_EQ(tessolin::LastSearchedLevel(5, c, c[2]), c[3]) << c[1];
}

TEST_F(DialogTest, ScaleModesAndTheMultiModelSearchFindAndDrawTheRenderedPart) {
    const auto set = [&](int id, const QString& s) { dialog->Spin(id)->BuddyEdit()->setText(s); };
    const auto pick = [&](int c, int i) {
        dialog->Controls().As<QComboBox>(c)->setCurrentIndex(i);
    };
    const auto next_handle = [] {  // 1 while every block is freed
        quro::TemplateF* t = nullptr;
        const int handle = get_model_contour2_s(0, 0, 1, 1, &t);
        return clear_mems(handle) == 0 ? handle : -1;
    };
    dialog->DebugConsole().Open();
    dialog->setSearchImage(quro_test::render_part_scene({220, 170}, {{100.5, 80.4, 0}}));
    dialog->OnCommandId(ids::kFindModels);  // no model held: refused, nothing registered
    EXPECT_EQ(dialog->StatusLabel()->text().toStdString(), "模板不足，至少需要一个");
    dialog->setModelImage(quro_test::render_part_model({111, 91}), cv::Mat());
    dialog->OnCommandId(ids::kCreateModel);
    set(ids::kNumMatchesEdit, "1");
    // Scale mode, range, scene scale, tolerance of both scales; the last leaves the scene at 1.
    for (const auto& c : {std::array{1.0, 1.0, 1.4, 1.2, 0.02}, {2.0, 0.9, 1.1, 1.0, 0.1}}) {
        dialog->setSearchImage(
            quro_test::render_part_scene({220, 170}, {{100.5, 80.4, 0}}, {.scale = c[3]}));
        pick(ids::kScaleModeCombo, int(c[0]));
        set(ids::kScaleMinEdit, QString::number(c[1]));
        set(ids::kScaleMaxEdit, QString::number(c[2]));
        dialog->OnCommandId(ids::kFindModel);
        double s[2] = {0, 0};
        std::sscanf(console_out.c_str() + console_out.rfind("scale ="), "scale = %lf, scale2 = %lf",
                    s, s + 1);
        for (double v : s) EXPECT_NEAR(v, c[3], c[4]) << console_out;
        EXPECT_EQ(dialog->State().match_drawings.size(), 1u) << c[0];
        EXPECT_EQ(next_handle(), 1);
    }
    pick(ids::kSubPixelCombo, 2), set(ids::kScaleMinEdit, "1"), set(ids::kScaleMaxEdit, "1");
    for (const auto& [command, tolerance] :
         {std::pair(ids::kFindModels, 0.5), {ids::kFindModel, 0.75}}) {
        pick(ids::kScaleModeCombo, 0);
        dialog->OnCommandId(ids::kFindModel);
        const auto rigid = dialog->State().match_drawings.at(0).points;
        pick(ids::kScaleModeCombo, 3);  // the multi-model search ignores the scale mode
        dialog->OnCommandId(command);
        EXPECT_EQ(next_handle(), 1);
        const auto& points =
            dialog->State().match_drawings.at(0).points;  // undeformed: the rigid outline
        ASSERT_EQ(points.size(), rigid.size()) << command;
        for (size_t k = 0; k < points.size(); ++k)
            EXPECT_LE(std::hypot(points[k][0] - rigid[k][0], points[k][1] - rigid[k][1]), tolerance)
                << command << " " << k;
    }
    // Mode 3 on the part bent by 3 px at 100 px: at Lowest Pyramid 1 and 2 the drawn outline lies
    // on the bent part's edges (the straight part's rigid outline, bent like the scene): RMS
    // distance of its points to them.
    const quro_test::BentPart bent{{100.5, 80.4, 0}, 3.0, 100.0};
    pick(ids::kScaleModeCombo, 0);
    dialog->OnCommandId(ids::kFindModel);
    std::vector<cv::Point2d> edge;
    const auto& straight = dialog->State().match_drawings.at(0).points;
    for (size_t k = 0; k < straight.size(); ++k) {
        const cv::Point2d a(straight[k][0], straight[k][1]);
        const cv::Point2d b(straight[(k + 1) % straight.size()][0],
                            straight[(k + 1) % straight.size()][1]);
        for (int t = 0; t < (cv::norm(b - a) < 1.5 ? 4 : 1); ++t) {
            const cv::Point2d q = a + (b - a) * (t / 4.0);
            edge.push_back(q + quro_test::bend_of_part_point(bent, q.x - bent.pose.x));
        }
    }
    dialog->setSearchImage(quro_test::render_bent_part_scene({220, 170}, {bent}));
    pick(ids::kScaleModeCombo, 3);
    for (const char* lowest : {"1", "2"}) {
        set(ids::kLowestLevelEdit, lowest);
        dialog->OnCommandId(ids::kFindModel);
        ASSERT_EQ(dialog->State().match_drawings.size(), 1u) << lowest;
        double sq = 0;
        const auto& drawn = dialog->State().match_drawings.at(0).points;
        for (const auto& p : drawn) {
            double nearest = 1e9;
            for (const cv::Point2d& e : edge)
                nearest = std::min(nearest, std::hypot(p[0] - e.x, p[1] - e.y));
            sq += nearest * nearest;
        }
        EXPECT_LE(std::sqrt(sq / double(drawn.size())), 0.75) << lowest;
    }
}

}  // namespace
