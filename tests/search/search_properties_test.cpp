// Randomized sweep over model creation and the rigid search with a fixed seed: random models
// (rendered parts and polygons, generated outlines, polygons, point lists; random contrast,
// metric and level count), random scenes (instances at random poses, clutter, noise, reversed
// contrast, instances crossing the border, tiny and constant images) and random search
// arguments. Every call is checked against what the search promises its callers.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "quro/match/angle_scale_lists.h"
#include "quro/model_table.h"
#include "quro/numeric.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "quro/search/core/hand_out.h"
#include "quro/search/core/level_plan.h"
#include "quro/search/core/search_input.h"
#include "testing/records.h"
#include "tests/create/create_support.h"
#include "tests/search/random_cases.h"

namespace {

using namespace quro_test;

// Sets border_shape_models for a scope and puts the default back afterwards.
struct BorderSetting {
    explicit BorderSetting(int v) { set_system("border_shape_models", v); }
    ~BorderSetting() { set_system("border_shape_models", 0); }
};

// Everything a search call takes besides the image and the model.
struct SearchArgs {
    float start = 0.f, extent = 360.f, min_score = 0.5f;
    int num_matches = 0;
    float max_overlap = 0.5f;
    int code = 2;
    int levels[2] = {0, 0};
    bool masked = false;
    cv::Mat mask;  // empty: a null mask
    int border = 0;
    int timeout = 0, metric = 1, min_contrast = 10;

    std::string describe() const {
        std::ostringstream s;
        s << "start " << start << " extent " << extent << " min_score " << min_score << " num "
          << num_matches << " overlap " << max_overlap << " code " << code << " levels {"
          << levels[0] << "," << levels[1] << "} masked " << masked << (mask.empty() ? "" : "+")
          << " border " << border << " timeout " << timeout << " metric " << metric
          << " min_contrast " << min_contrast;
        return s.str();
    }
};

float pick(Rng& rng, std::initializer_list<float> values) {
    const int i = uniform_int(rng, 0, static_cast<int>(values.size()) - 1);
    return values.begin()[i];
}

// An angle range: special values or anything.
std::pair<float, float> random_window(Rng& rng) {
    const float start = chance(rng, 0.3) ? pick(rng, {0.f, -180.f, -45.f, 350.f, -720.f})
                                         : static_cast<float>(uniform(rng, -400, 400));
    const float extent = chance(rng, 0.35) ? pick(rng, {0.f, 360.f, 359.99f, 720.f, 1000.f, 0.001f})
                                           : static_cast<float>(uniform(rng, 0, 400));
    return {start, extent};
}

// Search arguments; the angle range is often `window`, the one the scene's instances lie in.
SearchArgs random_args(Rng& rng, cv::Size size, std::pair<float, float> window) {
    SearchArgs a;
    std::tie(a.start, a.extent) = chance(rng, 0.6) ? window : random_window(rng);
    a.min_score = chance(rng, 0.2) ? pick(rng, {0.f, 1.f, 0.99f})
                                   : static_cast<float>(uniform(rng, 0.3, 0.95));
    a.num_matches = uniform_int(rng, -1, 5);
    a.max_overlap = chance(rng, 0.4) ? pick(rng, {0.f, 1.f}) : static_cast<float>(uniform(rng, 0, 1));
    const int units = uniform_int(rng, -5, 9);
    const int tens = chance(rng, 0.6) ? 0 : uniform_int(rng, 1, 9);
    a.code = units >= 0 ? units + 10 * tens : units - 10 * tens;
    if (chance(rng, 0.1)) a.code = static_cast<int>(pick(rng, {99.f, -99.f, 333.f, -15.f}));
    a.levels[0] = uniform_int(rng, -1, 12);
    a.levels[1] = uniform_int(rng, -1, 12);
    if (chance(rng, 0.4)) a.levels[0] = a.levels[1] = 0;
    a.masked = chance(rng, 0.4);
    if (a.masked && chance(rng, 0.75)) {
        const int kind = uniform_int(rng, 0, 2);
        a.mask = cv::Mat(size, CV_8U, cv::Scalar(kind == 0 ? 0 : 255));
        if (kind == 2) {
            cv::Mat noise(size, CV_8U);
            cv::randu(noise, 0, 4);
            a.mask.setTo(0, noise == 0);
        }
    }
    a.border = chance(rng, 0.3) ? 1 : 0;
    a.timeout = static_cast<int>(chance(rng, 0.15) ? 1.f : pick(rng, {0.f, 1000.f}));
    // Without a count limit a low min_score with a high max_overlap may ask for tens of thousands
    // of matches, whose pairwise overlap test takes minutes by design; only the time limit bounds
    // that, so such calls always have one here.
    if (a.timeout == 0 && a.num_matches <= 0) a.num_matches = uniform_int(rng, 1, 5);
    a.metric = uniform_int(rng, -1, 1);
    a.min_contrast = chance(rng, 0.7) ? uniform_int(rng, 0, 40) : uniform_int(rng, 0, 300);
    return a;
}

// A search result copied out of the registered block.
struct Outcome {
    int rc = 0;
    int count = 0;
    std::vector<quro::Match> matches;
};

bool same_bits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool identical(const quro::Match& a, const quro::Match& b) {
    return a.x == b.x && a.y == b.y && a.model_id == b.model_id && same_bits(a.angle, b.angle) &&
           same_bits(a.scale_row, b.scale_row) && same_bits(a.scale_col, b.scale_col) &&
           same_bits(a.score, b.score) && a.flag == b.flag && same_bits(a.dx, b.dx) &&
           same_bits(a.dy, b.dy);
}

int call_search(const cv::Mat& img, int id, const SearchArgs& a, quro::Match*& res, int& count) {
    int levels[2] = {a.levels[0], a.levels[1]};
    if (!a.masked)
        return find_shape_model(img.data, img.cols, img.rows, id, a.start, a.extent, a.min_score,
                                a.num_matches, a.max_overlap, a.code, levels, 0.9f, res, count);
    return find_shape_model_2(img.data, img.cols, img.rows, id, a.start, a.extent, a.min_score,
                              a.num_matches, a.max_overlap, a.code, levels, 0.9f,
                              a.mask.empty() ? nullptr : a.mask.data, res, count);
}

// The angle window a returned angle must lie in: exact without a sub-pixel step that moves the
// angle (or when the search ran a single level), else widened by one angle step of the level the
// step ran on. The peak fit (mode 1) samples the angles two steps to either side of a match and
// may end on the outermost of them, so its angles may lie two steps outside.
std::pair<double, double> angle_window(int id, const SearchArgs& a) {
    const auto rec = quro::find_shape_model_record(id);
    quro::LevelPlan plan;
    const int built = static_cast<int>(rec->level_features.size());
    if (!quro::plan_levels(a.levels, built, a.code, plan)) return {0, 0};
    double margin = 1e-3;
    // Mode 3 refines at full resolution whenever the search stopped above it, also after a
    // single level; the other modes run on the last level of a search over two levels or more.
    if (plan.mode == quro::kSubpixelLeastSquaresFull) {
        if (plan.last > 0) margin += quro::angle_step(*rec, 1);
    } else if (plan.top > plan.last && plan.mode >= 1) {
        const int steps = plan.mode == quro::kSubpixelPeakFit ? 2 : 1;
        margin += steps * quro::angle_step(*rec, plan.last + 1);
    }
    return {a.start - margin, static_cast<double>(a.start) + a.extent + margin};
}

// Checks the details of the returned matches against the image and frees them.
void check_details(const cv::Mat& img, const std::vector<quro::Match>& ms, Rng& rng) {
    const std::size_t before = quro::registered_result_count();
    const float min_contrast = static_cast<float>(uniform(rng, 0, 60));
    cv::Mat mask;
    const bool masked = chance(rng, 0.5);
    if (masked && chance(rng, 0.7)) {
        mask = cv::Mat(img.size(), CV_8U, cv::Scalar(255));
        cv::rectangle(mask, cv::Rect(0, 0, img.cols / 2, img.rows), cv::Scalar(0), cv::FILLED);
    }
    quro::MatchDetails sentinel;
    quro::MatchDetails* d = &sentinel;
    auto* matches = const_cast<quro::Match*>(ms.data());
    const int n = static_cast<int>(ms.size());
    const int h = masked ? get_match_details2(img.data, img.cols, img.rows, min_contrast, matches,
                                              n, mask.empty() ? nullptr : mask.data, d)
                         : get_match_details(img.data, img.cols, img.rows, min_contrast, matches,
                                             n, d);
    ASSERT_GE(h, 1);
    ASSERT_NE(d, &sentinel);
    constexpr float eps = 1e-4f;
    for (int i = 0; i < n; ++i) {
        const quro::MatchDetails& e = d[i];
        const auto rec = quro::find_shape_model_record(ms[i].model_id);
        ASSERT_TRUE(rec);
        EXPECT_EQ(e.count, static_cast<int>(rec->level_features[0].size()));
        EXPECT_TRUE(identical(e.match, ms[i]));
        EXPECT_EQ(e.x, static_cast<float>(ms[i].x) + ms[i].dx);
        EXPECT_EQ(e.y, static_cast<float>(ms[i].y) + ms[i].dy);
        for (int k = 0; k < e.count; ++k) {
            const float s = e.scores[k];
            ASSERT_TRUE(std::isfinite(s));
            ASSERT_GE(s, -1.f - eps);
            ASSERT_LE(s, 1.f + eps);
            const int col = quro::round_half_away(e.x + e.points[k].x);
            const int row = quro::round_half_away(e.y + e.points[k].y);
            const bool inside = col >= 0 && row >= 0 && col < img.cols && row < img.rows;
            if (!inside || (!mask.empty() && mask.at<uchar>(row, col) == 0)) {
                ASSERT_EQ(s, 0.f);
            }
        }
    }
    EXPECT_EQ(clear_mems(h), 0);
    EXPECT_EQ(quro::registered_result_count(), before);

    // A match of a model that is not in the table gets an element without points; no matches
    // give no block at all.
    std::vector<quro::Match> stray(ms.begin(), ms.begin() + 1);
    stray[0].model_id = -7;
    const int hs = get_match_details(img.data, img.cols, img.rows, min_contrast, stray.data(), 1, d);
    ASSERT_GE(hs, 1);
    EXPECT_EQ(d[0].count, 0);
    EXPECT_EQ(d[0].points, nullptr);
    EXPECT_EQ(d[0].scores, nullptr);
    EXPECT_TRUE(identical(d[0].match, stray[0]));
    EXPECT_EQ(clear_mems(hs), 0);
    d = &sentinel;
    EXPECT_EQ(get_match_details(img.data, img.cols, img.rows, min_contrast, stray.data(), 0, d), 0);
    EXPECT_EQ(d, &sentinel);
    EXPECT_EQ(quro::registered_result_count(), before);
}

// Runs one search (twice, for determinism) and checks every promise on its result.
// Writes the number of matches of the first run to `found` (-1 when its time limit cut it short).
void check_search(const cv::Mat& img, int id, const SearchArgs& a, Rng& rng, int& found) {
    found = 0;
    set_shape_model_param(id, "timeout", a.timeout);
    set_shape_model_param(id, "metric", a.metric);
    set_shape_model_param(id, "min_contrast", a.min_contrast);
    const BorderSetting border(a.border);
    // The details draw from their own generator, so that the sweep's sequence does not depend on
    // whether a search was cut short by its time limit.
    Rng details_rng(static_cast<unsigned>(rng()));
    Outcome out[2];
    for (int run = 0; run < 2; ++run) {
        const std::size_t before = quro::registered_result_count();
        quro::Match sentinel(-5, -6, -7.f);
        quro::Match* res = &sentinel;
        int count = -3;
        const int rc = call_search(img, id, a, res, count);
        out[run].rc = rc;
        out[run].count = count;
        if (rc >= 1) {
            ASSERT_GE(count, 1);
            ASSERT_NE(res, &sentinel);
            ASSERT_NE(res, nullptr);
            EXPECT_EQ(quro::registered_result_count(), before + 1);
            out[run].matches.assign(res, res + count);
            if (run == 0) check_details(img, out[run].matches, details_rng);
            EXPECT_EQ(clear_mems(rc), 0);
        } else {
            ASSERT_TRUE(rc == 0 || rc == -2) << "rc " << rc;
            EXPECT_EQ(count, 0);
            EXPECT_EQ(res, &sentinel);
            if (rc == -2) {
                EXPECT_GT(a.timeout, 0) << "a time-out without a time limit";
            }
        }
        EXPECT_EQ(quro::registered_result_count(), before);
    }

    // Determinism: a search that was not cut short gives bit-identical results.
    if (out[0].rc != -2 && out[1].rc != -2) {
        EXPECT_EQ(out[0].rc > 0, out[1].rc > 0);
        EXPECT_EQ(out[0].count, out[1].count);
        if (out[0].matches.size() == out[1].matches.size()) {
            for (std::size_t i = 0; i < out[0].matches.size(); ++i)
                EXPECT_TRUE(identical(out[0].matches[i], out[1].matches[i])) << "match " << i;
        }
    }

    const auto [lo, hi] = angle_window(id, a);
    const std::vector<quro::Match>& ms = out[0].matches;
    if (a.num_matches > 0) {
        EXPECT_LE(ms.size(), static_cast<std::size_t>(a.num_matches));
    }
    // The selection sorts by score and no later step changes a score, so the best come first.
    for (std::size_t i = 1; i < ms.size(); ++i) EXPECT_GE(ms[i - 1].score, ms[i].score);
    std::set<std::pair<int, int>> pixels;
    for (const quro::Match& m : ms) {
        SCOPED_TRACE(::testing::Message() << "match at " << m.x << "," << m.y << " angle "
                                          << m.angle << " score " << m.score);
        EXPECT_TRUE(std::isfinite(m.angle) && std::isfinite(m.score) && std::isfinite(m.dx) &&
                    std::isfinite(m.dy));
        EXPECT_GE(m.score, a.min_score);
        EXPECT_LE(m.score, 1.f + 1e-4f);
        EXPECT_GE(m.angle, lo);
        EXPECT_LE(m.angle, hi);
        EXPECT_EQ(m.model_id, id);
        EXPECT_EQ(m.scale_row, 1.f);
        EXPECT_EQ(m.scale_col, 1.f);
        EXPECT_TRUE(m.flag == 1 || m.flag == -1) << int(m.flag);
        if (a.max_overlap == 0.f) {
            EXPECT_TRUE(pixels.insert({m.x, m.y}).second) << "two matches share a pixel";
        }
    }
    found = out[0].rc == -2 ? -1 : static_cast<int>(ms.size());
}

// Arguments the search must refuse with -1, without touching its outputs or registering anything.
void check_rejected(const cv::Mat& img, int id, Rng& rng) {
    SearchArgs a;
    int width = img.cols, height = img.rows;
    unsigned char* data = img.data;
    int model = id;
    switch (uniform_int(rng, 0, 7)) {
        case 0: a.extent = -5.f; break;
        case 1: a.min_score = NAN; break;
        case 2: a.max_overlap = -0.5f; break;
        case 3: width = 0; break;
        case 4: data = nullptr; break;
        case 5: model = id + 1000; break;
        case 6: a.extent = 1e9f; break;
        default: a.start = INFINITY; break;
    }
    const std::vector<unsigned char> stored = quro_test::model_bytes(id);
    const std::size_t before = quro::registered_result_count();
    quro::Match sentinel(1, 2, 3.f);
    quro::Match* res = &sentinel;
    int count = 9;
    int levels[2] = {0, 0};
    const int rc = find_shape_model(data, width, height, model, a.start, a.extent, a.min_score, 0,
                                    a.max_overlap, 2, levels, 0.9f, res, count);
    EXPECT_EQ(rc, -1);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(res, &sentinel);
    EXPECT_EQ(quro::registered_result_count(), before);
    EXPECT_EQ(quro_test::model_bytes(id), stored) << "a rejected search changed the model";
}

// What every created model must hold: consistent per-level lists, 1 to 10 levels (at most the
// count asked for, for image models), enough points on every level (20 for image models, 40 for
// the others), finite points within the level's radius and box, unit directions.
void check_model(const RandomModel& m) {
    const auto rec = quro::find_shape_model_record(m.id);
    ASSERT_TRUE(rec);
    quro_test::expect_record_invariants(*rec);
    const auto n = rec->level_features.size();
    for (const std::size_t size :
         {rec->level_widths.size(), rec->level_heights.size(), rec->box_min_x.size(),
          rec->box_max_x.size(), rec->box_min_y.size(), rec->box_max_y.size(),
          rec->level_radius.size()})
        ASSERT_EQ(size, n);
    int reported = -1;
    get_shape_model_param(m.id, "num_levels", &reported);
    EXPECT_EQ(reported, rec->num_levels);
    EXPECT_LE(rec->num_levels, 10);
    const bool from_image = m.source == ModelSource::kPartImage ||
                            m.source == ModelSource::kPolygonImage;
    if (from_image && m.num_levels_arg >= 1 && m.num_levels_arg <= 10) {
        EXPECT_LE(rec->num_levels, m.num_levels_arg);
    }
    const std::size_t min_points = from_image ? 20 : 40;
    for (std::size_t k = 0; k < n; ++k) {
        SCOPED_TRACE("level " + std::to_string(k + 1));
        const auto& pts = rec->level_features[k];
        EXPECT_GE(pts.size(), min_points);
        const float r = rec->level_radius[k];
        EXPECT_TRUE(std::isfinite(r) && r >= 0.f);
        EXPECT_LE(rec->box_min_x[k], rec->box_max_x[k]);
        EXPECT_LE(rec->box_min_y[k], rec->box_max_y[k]);
        EXPECT_GE(rec->level_widths[k], 0);
        EXPECT_GE(rec->level_heights[k], 0);
        if (k > 0) {
            EXPECT_LE(rec->level_widths[k], rec->level_widths[k - 1]);
            if (!from_image) {
                EXPECT_LE(pts.size(), rec->level_features[k - 1].size());
            }
        }
        for (const quro::Feature& f : pts) {
            ASSERT_TRUE(std::isfinite(f.x) && std::isfinite(f.y) && std::isfinite(f.gx) &&
                        std::isfinite(f.gy));
            ASSERT_LE(std::hypot(f.x, f.y), r * (1 + 1e-5f) + 1e-4f);
            ASSERT_NEAR(std::hypot(f.gx, f.gy), 1.0, 1e-3);
        }
    }
}

// A scene for `m`: any size from 1 x 1 up, instances anywhere (also across the border), clutter,
// noise, reversed contrast, or a constant image.
cv::Mat random_scene(Rng& rng, const RandomModel& m, std::pair<float, float> window) {
    cv::Size size;
    const int kind = uniform_int(rng, 0, 9);
    if (kind == 0)
        size = {uniform_int(rng, 1, 6), uniform_int(rng, 1, 6)};
    else if (kind == 1)  // smaller than the model
        size = {std::max(1, static_cast<int>(m.reach * uniform(rng, 0.3, 1.6))),
                std::max(1, static_cast<int>(m.reach * uniform(rng, 0.3, 1.6)))};
    else
        size = {uniform_int(rng, 40, 230), uniform_int(rng, 40, 230)};
    if (chance(rng, 0.08)) return cv::Mat(size, CV_8U, cv::Scalar(uniform_int(rng, 0, 255)));
    std::vector<Instance> inst(static_cast<std::size_t>(uniform_int(rng, 0, 4)));
    const double scale = uniform(rng, 0.95, 1.05);
    const double r = m.reach * scale + 2;
    for (auto& i : inst) {
        // Mostly fully inside when the image is large enough, else anywhere (across the border).
        const bool inside = 2 * r < std::min(size.width, size.height) && chance(rng, 0.6);
        i.x = inside ? uniform(rng, r, size.width - 1 - r) : uniform(rng, -0.2, 1.2) * size.width;
        i.y = inside ? uniform(rng, r, size.height - 1 - r) : uniform(rng, -0.2, 1.2) * size.height;
        i.angle = window.first + uniform(rng, 0, std::min(window.second, 360.f));
        i.scale = scale;
    }
    SceneLook look;
    look.background = uniform(rng, 30, 120);
    look.foreground = look.background + uniform(rng, 25, 120);
    look.noise = chance(rng, 0.5) ? 0 : uniform(rng, 0, 10);
    look.clutter = uniform_int(rng, 0, 20);
    look.reversed = chance(rng, 0.2);
    look.seed = static_cast<unsigned>(rng());
    return render_instances(m, size, inst, look);
}

TEST(SearchProperties, RandomModelsScenesAndArgumentsKeepEveryPromise) {
    Rng rng(20240611u);
    const std::size_t models_before = quro::shape_model_count();
    const std::size_t results_before = quro::registered_result_count();
    int created = 0, searched = 0, with_matches = 0, timed_out = 0;
    for (int round = 0; round < 200; ++round) {
        RandomModel m;
        const std::size_t n_before = quro::shape_model_count();
        const int rc = create_random_model(rng, m, false);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + m.what);
        if (rc != 0) {
            EXPECT_TRUE(rc == -1 || rc == -2 || rc == -3 || rc == -4) << "creation rc " << rc;
            EXPECT_EQ(quro::shape_model_count(), n_before);
            continue;
        }
        ++created;
        ASSERT_EQ(quro::shape_model_count(), n_before + 1);
        check_model(m);
        for (int s = 0; s < 3; ++s) {
            const auto window = random_window(rng);
            const cv::Mat img = random_scene(rng, m, window);
            for (int c = 0; c < 2; ++c) {
                const SearchArgs a = random_args(rng, img.size(), window);
                SCOPED_TRACE("scene " + std::to_string(img.cols) + "x" +
                             std::to_string(img.rows) + " " + a.describe());
                int n = 0;
                check_search(img, m.id, a, rng, n);
                ++searched;
                with_matches += n > 0 && a.timeout == 0 ? 1 : 0;  // counted whatever the speed
                timed_out += n < 0 ? 1 : 0;
            }
            check_rejected(img, m.id, rng);
        }
        EXPECT_EQ(clear_shape_model(m.id), 0);
    }
    std::printf("sweep: %d models, %d searches, %d with matches, %d cut short by their limit\n",
                created, searched, with_matches, timed_out);
    EXPECT_GE(created, 120);
    EXPECT_GE(with_matches, 70);  // the match properties must have been exercised (72 today)
    EXPECT_EQ(quro::shape_model_count(), models_before);
    EXPECT_EQ(quro::registered_result_count(), results_before);
}

// Clean scenes (noise up to 3 grey values, instances at scale 1 fully inside and apart, contrast
// as in the model): with least squares (mode 2) and min_score 0.7 every instance is found within
// half a pixel and half a degree. Models are parts and irregular polygons about 40 pixels across
// or more (half a degree is then at least a sixth of a pixel at their rim), made from images and
// from polygons. A model of a single level is left out: a search over one level has no sub-pixel
// step at all.
TEST(SearchProperties, CleanScenesShowEveryInstanceAtItsPose) {
    Rng rng(777u);
    int instances = 0;
    for (int round = 0; round < 120; ++round) {
        RandomModel m;
        ASSERT_EQ(create_random_model(rng, m, true), 0) << m.what;
        // A search over a single level has no sub-pixel step; such models cannot be this exact.
        int built = 0;
        get_shape_model_param(m.id, "num_levels", &built);
        if (built < 2) {
            EXPECT_EQ(clear_shape_model(m.id), 0);
            continue;
        }
        set_shape_model_param(m.id, "timeout", 0);
        SCOPED_TRACE("round " + std::to_string(round) + ": " + m.what);
        // Instances fully inside and apart from each other, at scale 1.
        const double r = m.reach + 3;
        const cv::Size size(static_cast<int>(2 * r) + uniform_int(rng, 4, 200),
                            static_cast<int>(2 * r) + uniform_int(rng, 4, 200));
        const float start = static_cast<float>(uniform(rng, -360, 360));
        const float extent = chance(rng, 0.5) ? 360.f : static_cast<float>(uniform(rng, 20, 360));
        std::vector<Instance> inst;
        for (int tries = 0; tries < 60 && inst.size() < 4; ++tries) {
            const Instance c{uniform(rng, r, size.width - 1 - r), uniform(rng, r, size.height - 1 - r),
                             start + uniform(rng, 0, extent), 1.0};
            bool apart = true;
            for (const auto& o : inst) apart = apart && std::hypot(o.x - c.x, o.y - c.y) > 2 * r;
            if (apart) inst.push_back(c);
        }
        SceneLook look;
        look.noise = uniform(rng, 0, 3);
        look.clutter = uniform_int(rng, 0, 10);
        look.seed = static_cast<unsigned>(rng());
        const cv::Mat img = render_instances(m, size, inst, look);
        quro::Match* res = nullptr;
        int count = 0;
        int levels[2] = {0, 0};
        const int h = find_shape_model(img.data, img.cols, img.rows, m.id, start, extent, 0.7f, 0,
                                       0.5f, 2, levels, 0.9f, res, count);
        std::vector<quro::Match> ms;
        if (h > 0) ms.assign(res, res + count), clear_mems(h);
        for (const Instance& i : inst) {
            ++instances;
            bool hit = false;
            double nearest = 1e9, nearest_angle = 0;
            for (const quro::Match& mt : ms) {
                const double d = std::hypot(mt.x + mt.dx - i.x, mt.y + mt.dy - i.y);
                const double da = std::fabs(quro::wrap_angle_180(
                    static_cast<float>(mt.angle - i.angle)));
                hit = hit || (d <= 0.5 && da <= 0.5);
                if (d < nearest) nearest = d, nearest_angle = da;
            }
            EXPECT_TRUE(hit) << "instance at " << i.x << "," << i.y << " angle " << i.angle
                             << " not found (" << ms.size() << " matches) in " << size.width
                             << "x" << size.height << " window " << start << "+" << extent
                             << "; nearest match " << nearest << " px, " << nearest_angle
                             << " deg away";
        }
        EXPECT_EQ(clear_shape_model(m.id), 0);
    }
    EXPECT_GE(instances, 150);
}

// Different models may be searched from different threads at once: every thread gets what the
// same search gives on its own.
TEST(SearchProperties, ConcurrentSearchesOfDifferentModelsMatchSerialOnes) {
    Rng rng(4242u);
    constexpr int kThreads = 4;
    std::vector<RandomModel> models(kThreads);
    std::vector<cv::Mat> scenes(kThreads);
    std::vector<SearchArgs> args(kThreads);
    for (int t = 0; t < kThreads; ++t) {
        ASSERT_EQ(create_random_model(rng, models[t], true), 0);
        const double r = models[t].reach + 2;
        const cv::Size size(static_cast<int>(4 * r) + 10, static_cast<int>(2 * r) + 10);
        const std::vector<Instance> inst = {{r + 2, r + 4, uniform(rng, 0, 360), 1.0},
                                            {3 * r + 6, r + 5, uniform(rng, 0, 360), 1.0}};
        SceneLook look;
        look.noise = 2;
        look.seed = static_cast<unsigned>(rng());
        scenes[t] = render_instances(models[t], size, inst, look);
        args[t].code = t + 1;  // modes 1..4
        args[t].num_matches = 0;
        args[t].min_score = 0.6f;
        set_shape_model_param(models[t].id, "timeout", 0);
    }
    auto run = [&](int t, std::vector<quro::Match>& out) {
        quro::Match* res = nullptr;
        int count = 0;
        const int h = call_search(scenes[t], models[t].id, args[t], res, count);
        out.clear();
        if (h > 0) {
            out.assign(res, res + count);
            clear_mems(h);
        }
    };
    std::vector<std::vector<quro::Match>> serial(kThreads), parallel(kThreads);
    std::size_t found = 0;
    for (int t = 0; t < kThreads; ++t) {
        run(t, serial[t]);
        found += serial[t].size();
    }
    EXPECT_GE(found, 2u * kThreads);
    for (int repeat = 0; repeat < 3; ++repeat) {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) threads.emplace_back(run, t, std::ref(parallel[t]));
        for (auto& th : threads) th.join();
        for (int t = 0; t < kThreads; ++t) {
            ASSERT_EQ(parallel[t].size(), serial[t].size()) << "thread " << t;
            for (std::size_t i = 0; i < serial[t].size(); ++i)
                EXPECT_TRUE(identical(parallel[t][i], serial[t][i])) << "thread " << t;
        }
    }
    for (const auto& m : models) EXPECT_EQ(clear_shape_model(m.id), 0);
}

}  // namespace
