#include <QAbstractButton>
#include <opencv2/imgcodecs.hpp>

#include "core/TiledSearch.h"
#include "platform/ControlIds.h"
#include "testing/part_scene.h"
#include "tests/dialog_fixture.h"
#include "widgets/Label.h"

namespace ids = tessolin::ids;

namespace {

// Image side and model side, tile starts, tile ends.
const std::vector<int> kGrids[][3] = {{{1280, 100}, {0, 540}, {640, 1280}},
                                      {{1000, 10}, {0, 490}, {500, 1000}},
                                      {{1925, 700}, {0, 0, 584}, {642, 1284, 1925}},
                                      {{950, 50}, {0}, {950}},
                                      {{300, 50}, {0}, {300}}};

TEST(TiledSearch, TilesOfAbout640OverlapByTheModelSideAndNeverVanish) {
    for (const auto& c : kGrids) {
        const tessolin::TileGrid g = tessolin::MakeTileGrid({c[0][0], 9}, {c[0][1], 2});
        const tessolin::TileGrid t = tessolin::MakeTileGrid({9, c[0][0]}, {2, c[0][1]});
        EXPECT_TRUE(g.columns.starts == c[1] && g.columns.ends == c[2]) << c[0][0];
        EXPECT_TRUE(t.rows.starts == c[1] && t.rows.ends == c[2]) << c[0][0];
    }
}

TEST(TiledSearch, OnlyListedMatchesRemoveLaterOnesWithinAtLeastHalfAPixel) {
    for (float d : {2.5f, 0.1f, NAN}) {  // 12 is a duplicate of 10; 13.9 only of 12, gone by then
        const float step = d == 2.5f ? 2.f : 0.5f;
        std::vector<quro::Match> list;
        for (float x : {10.f, 10 + step, 9.9f + 2 * step}) {
            list.emplace_back(10, 7, 1.f - x / 100);
            list.back().dx = x - 10;  // x + dx counts
        }
        tessolin::RemoveDuplicateMatches(list, d);
        EXPECT_TRUE(list.size() == 2 && list[1].dx > step) << d;
    }
}

TEST_F(DialogTest, TiledSearchFindsCopiesAcrossTileBoundsOnceAndFreesEveryHandle) {
    const quro_test::PartPose truth[] = {
        {300.3, 400.6, 0}, {1400.5, 1100.2, 30}, {660.2, 742.7, 75}};
    cv::Mat scene(1500, 2000, CV_8UC1, cv::Scalar(60));
    for (const auto& p : truth) {  // each copy rendered on its own patch of the background
        const cv::Rect patch(int(p.x) - 80, int(p.y) - 80, 160, 160);
        quro_test::render_part_scene(patch.size(), {{p.x - patch.x, p.y - patch.y, p.angle}})
            .copyTo(scene(patch));
    }
    dialog->setSearchImage(scene);
    dialog->setModelImage(quro_test::render_part_model({112, 84}), {});
    dialog->OnCommandId(ids::kCreateModel);
    const int model = dialog->State().held_model_ids.at(0);
    // Across the border, the copy at the corner of four tiles is seen partly in three of them.
    dialog->Controls().As<QAbstractButton>(ids::kCrossBorder)->setChecked(true);
    dialog->OnCommandId(ids::kFindModel);  // sets the model's time-out to 5000 ms
    dialog->OnCommandId(ids::kFindLargeImage);
    int timeout = 0;
    get_shape_model_param(model, "timeout", &timeout);
    EXPECT_EQ(timeout, 1000);
    std::string status = dialog->StatusLabel()->text().toStdString();
    EXPECT_EQ(status.rfind("模板匹配成功, ", 0), 0u) << status;  // no count
    ASSERT_EQ(dialog->State().match_drawings.size(), 3u) << console_out;
    for (const auto& p : truth) {
        int near = 0;
        for (const auto& d : dialog->State().match_drawings)
            near += std::hypot(d.crosses.at(0)[0] - p.x, d.crosses.at(0)[1] - p.y) < 1.0 &&
                    !d.points.empty() && d.labels.at(0)[2] > 0.9f;  // not a copy cut by a tile
        EXPECT_EQ(near, 1) << p.x << console_out;
    }
    EXPECT_EQ(clear_mems(1), -1);             // no tile or outline handle left behind
    const float x[] = {0, 0}, y[] = {0, 63};  // a vertical line: a model 0 pixels wide
    const char use[] = {1, 1};
    const ContrastParams contrast{10, 30, 1, 10};
    int id = -1;
    ASSERT_EQ(create_shape_model_pol(x, y, use, 2, 1, 0, 360, 0, 0, &contrast, &id), 0);
    dialog->HoldModel(id);
    dialog->OnCommandId(ids::kFindLargeImage);
    status = dialog->StatusLabel()->text().toStdString();
    EXPECT_EQ(status.rfind("模板匹配失败，err =-2, ", 0), 0u) << status;
}

// A 4 x 4 mosaic of the sample scene: tile edges cut parts, and a wrong pose can fit the piece a
// tile holds (scoring up to 0.35). The merged matches are those of one search of the mosaic.
TEST_F(DialogTest, TiledSearchOfAMosaicFindsWhatTheSingleSearchFinds) {
    const auto sample = [](const char* name) {
        return cv::imread(std::string(TESSOLIN_SAMPLE_DIR "/") + name, cv::IMREAD_GRAYSCALE);
    };
    dialog->setModelImage(sample("part_model.png"), {});
    dialog->OnCommandId(ids::kCreateModel);
    const int id = dialog->State().held_model_ids.at(0);
    set_shape_model_param(id, "timeout", 0);
    cv::Mat mosaic;
    cv::repeat(sample("part_scene.png"), 4, 4, mosaic);
    int levels[2] = {0, 1}, count = 0;
    std::vector<quro::Match> tiled;
    quro::Match* single = nullptr;
    ASSERT_EQ(tessolin::FindShapeModelTiled(mosaic, id, 0, 360, 0.32f, 0, 0.5f, 0, levels, 0.75f,
                                            2.5f, tiled), 0);
    const int handle = find_shape_model(mosaic.data, mosaic.cols, mosaic.rows, id, 0, 360, 0.32f,
                                        0, 0.5f, 0, levels, 0.75f, single, count);
    EXPECT_EQ(int(tiled.size()), count);
    for (const quro::Match& m : tiled)
        EXPECT_TRUE(std::any_of(single, single + count, [&](const quro::Match& s) {
            return std::abs(s.x - m.x) <= 1 && std::abs(s.y - m.y) <= 1;
        })) << m.x << " " << m.y << " " << m.score;
    clear_mems(handle);
}

}  // namespace
