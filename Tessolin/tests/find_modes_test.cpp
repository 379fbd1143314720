#include <QComboBox>
#include <QLineEdit>
#include <cstdio>

#include "ControlIds.h"
#include "FindModes.h"
#include "Label.h"
#include "NumSpinCtrl.h"
#include "testing/part_scene.h"
#include "tests/dialog_fixture.h"

namespace ids = tessolin::ids;
namespace {

TEST(FieldSampling, ClampsOutsideTheRectangleAndSamplesTheLastSearchedLevel) {
    // Field at (10, 20) of level `last` (-1: no field), 5 x 4, displacement (0.5 u, 1), (1, 1) at
    // its centre; the match at (x, y) with the shift the field holds already (that displacement
    // times 2^last), plus the reference point's offset (1.5, 0) in the last case, or (0.7, 0.2)
    // without a field; outline point (px, py).
    quro::VectorField f;
    f.x = 10, f.y = 20, f.width = 5, f.height = 4;
    f.map_x = static_cast<float*>(std::malloc(80)), f.map_y = static_cast<float*>(std::malloc(80));
    for (int i = 0; i < 20; ++i) f.map_x[i] = 1.5f * float(i % 5), f.map_y[i] = float(i / 5) + 1;
    const float cases[][7] = {{2, 48, 84, 0, 0, 52, 88},       {0, 12, 21, 0.5f, 0, 13.75f, 22},
                              {2, 0, 0, 0, 0, 0, 4},           {0, 1000, 500, 0, 0, 1002, 501},
                              {0, 12, 21, 0, NAN, 13, NAN},    {-1, 48, 84, 1, 1, 49.7f, 85.2f},
                              {2, 48, 84, 0, 0, 54.25f, 88}};
    for (const auto& c : cases) {
        quro::Match m;
        const float held = c[0] < 0 ? 0.f : std::ldexp(1.f, int(c[0]));
        m.x = int(c[1]), m.y = int(c[2]), m.dx = c[0] < 0 ? 0.7f : held, m.dy = c[0] < 0 ? 0.2f : held;
        if (&c == &cases[6]) m.dx += 1.5f;
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
    const auto pick = [&](int c, int i) { dialog->controls.As<QComboBox>(c)->setCurrentIndex(i); };
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
        EXPECT_EQ(dialog->match_drawings.size(), 1u) << c[0];
        EXPECT_EQ(next_handle(), 1);
    }
    pick(ids::kSubPixelCombo, 2), set(ids::kScaleMinEdit, "1"), set(ids::kScaleMaxEdit, "1");
    for (const auto& [command, tolerance] :
         {std::pair(ids::kFindModels, 0.5), {ids::kFindModel, 0.75}}) {
        pick(ids::kScaleModeCombo, 0);
        dialog->OnCommandId(ids::kFindModel);
        const auto rigid = dialog->match_drawings.at(0).points;
        pick(ids::kScaleModeCombo, 3);  // the multi-model search ignores the scale mode
        dialog->OnCommandId(command);
        EXPECT_EQ(next_handle(), 1);
        const auto& points = dialog->match_drawings.at(0).points;  // undeformed: the rigid outline
        ASSERT_EQ(points.size(), rigid.size()) << command;
        for (size_t k = 0; k < points.size(); ++k)
            EXPECT_LE(std::hypot(points[k][0] - rigid[k][0], points[k][1] - rigid[k][1]), tolerance)
                << command << " " << k;
    }
}

}  // namespace
