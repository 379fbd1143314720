// Mutation fuzzing of model buffers: every damaged or hostile input is refused with -1, or gives a
// model that every search export runs on a 320 x 240 scene without fault and within bounded
// memory, whatever time-out it holds (how long they take depends on the machine: not checked
// here). QURO_FUZZ_INPUTS sets the number of inputs (default 1500), QURO_FUZZ_SEED the random
// stream. Beside the valid models, the seeds hold the shape of files that once took minutes and
// gigabytes: a huge level size or box about points spanning under 100 pixels.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "quro/model_archive.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "testing/part_scene.h"

namespace {

long peak_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A valid model's bytes with the offsets of its 4-byte fields and counts: scalars and per-level
// lists (as likely a target as all points together), and the point fields.
struct Seed {
    std::string bytes;
    std::vector<std::size_t> head, points;
};

Seed encoded_model(int id) {
    const auto rec = quro::find_shape_model_record(id);
    Seed s{quro::encode_shape_model(*rec), {60, 64, 69, 73, 77, 81, 85}, {}};
    for (std::size_t at = 0; at < 60; at += 4) s.head.push_back(at);
    std::size_t at = 89;
    for (int list = 0; list < 9; ++list) {  // eight per-level lists, then the level count
        s.head.push_back(at);
        at += 8 + (list < 8 ? 4 * static_cast<std::size_t>(rec->num_levels) : 0);
        for (std::size_t e = s.head.back() + 8; list < 8 && e < at; e += 4) s.head.push_back(e);
    }
    for (const auto& level : rec->level_features) {
        s.head.push_back(at);
        for (std::size_t f = 0; f < 4 * level.size(); ++f) s.points.push_back(at + 8 + 4 * f);
        at += 8 + 16 * level.size();
    }
    clear_shape_model(id);
    return s;
}

void put_int(std::string& b, std::size_t at, int v) {
    std::memcpy(&b[at], &v, 4);
}
void put_float(std::string& b, std::size_t at, float v) {
    std::memcpy(&b[at], &v, 4);
}

// An image model of the part, a circle outline and a point list: the valid inputs mutated; each
// also with its level-1 width claimed as 9000 and 2^31 - 1, and with a box edge of 2^24 (the
// per-level lists start at 89, each 8 + 4 L bytes long; box_max_x is the fifth).
std::vector<Seed> seed_models() {
    const ContrastParams c{10, 30, 10, 10};
    const cv::Mat part = quro_test::render_part_model(cv::Size(160, 120));
    std::vector<float> x, y, gx, gy;
    for (int i = 0; i < 120; ++i) {
        const float t = 0.0523599f * static_cast<float>(i);
        x.push_back(30.f * std::cos(t) + 0.1f * i);
        y.push_back(20.f * std::sin(t));
        gx.push_back(std::cos(t));
        gy.push_back(std::sin(t));
    }
    int a = -1, b = -1, d = -1;
    EXPECT_EQ(create_shape_model(part.data, part.cols, part.rows, 3, 0, 360, 0, 1, &c, nullptr, &a),
              0);
    EXPECT_EQ(create_shape_model_xld(25, 0, 0, 0, 360, 0, 0, &c, &b), 0);
    EXPECT_EQ(create_shape_model_xld3(x.data(), y.data(), gx.data(), gy.data(), 120, 0, 0, 360, 0,
                                      -1, &c, &d),
              0);
    std::vector<Seed> seeds{encoded_model(a), encoded_model(b), encoded_model(d)};
    for (std::size_t i = 0; i < 3; ++i) {
        const int levels = seeds[i].bytes[0];
        for (const int width0 : {9000, 2147483647}) {
            seeds.push_back(seeds[i]);
            put_int(seeds.back().bytes, 97, width0);
        }
        seeds.push_back(seeds[i]);
        put_int(seeds.back().bytes, 97, 1 << 25);
        put_int(seeds.back().bytes, 97 + 4 * (8 + 4 * static_cast<std::size_t>(levels)), 1 << 25);
        put_float(seeds.back().bytes, 97 + 4 * 4 * (8 + 4 * static_cast<std::size_t>(levels)),
                  16777216.f);
    }
    return seeds;
}

// One mutation: a byte anywhere, a float (NaN, infinity, huge) or an int (counts, sizes) written
// over a field, the end cut off, or the time-out set to 0 (no limit).
void mutate(std::string& b, const Seed& seed, std::mt19937& rng) {
    const float floats[] = {std::nanf(""), INFINITY, -INFINITY, 1e30f, -3e9f, 65536.f, 0.f};
    const int ints[] = {0, -1, 1 << 30, 65536, 2, 1000000, -65536};
    const auto& fields = (rng() % 2 || seed.points.empty()) ? seed.head : seed.points;
    const std::size_t f = fields[rng() % fields.size()];
    const bool fits = f + 4 <= b.size();
    switch (rng() % 5) {
        case 0:
            b[rng() % b.size()] = static_cast<char>(rng());
            break;
        case 1:
            if (fits) std::memcpy(&b[f], &floats[rng() % 7], 4);
            break;
        case 2:
            if (fits) std::memcpy(&b[f], &ints[rng() % 7], 4);
            break;
        case 3:
            b.resize(1 + rng() % b.size());
            break;
        default:
            if (b.size() >= 73) std::memset(&b[69], 0, 4);
            break;
    }
}

// Runs search export `which` (0..11) of model `id` on `scene`; returns its code, every result
// freed.
int search_with_export(int which, const cv::Mat& scene, int id, int code) {
    int levels[2] = {0, 0};
    int ids[2] = {id, id};
    quro::Match* r = nullptr;
    quro::VectorField* fields = nullptr;
    int n = 0, fh = 0;
    unsigned char* const img = scene.data;
    const int w = scene.cols, h = scene.rows;
    std::vector<unsigned char> mask(scene.total(), 255);
    int rc = -1;
    switch (which) {
        case 0:
            rc = find_shape_model(img, w, h, id, -30, 90, 0.6f, 0, 0.5f, code, levels, 0.9f, r, n);
            break;
        case 1:
            rc = find_shape_model_2(img, w, h, id, -30, 90, 0.6f, 0, 0.5f, code, levels, 0.9f,
                                    mask.data(), r, n);
            break;
        case 2:
            rc = find_scaled_shape_model(img, w, h, id, -30, 90, 0.9f, 1.1f, 0.6f, 0, 0.5f, code,
                                         levels, 0.9f, r, n);
            break;
        case 3:
            rc = find_scaled_shape_model_2(img, w, h, id, -30, 90, 0.9f, 1.1f, 0.6f, 0, 0.5f, code,
                                           levels, 0.9f, mask.data(), r, n);
            break;
        case 4:
            rc = find_aniso_shape_model(img, w, h, id, -30, 90, 0.9f, 1.1f, 0.9f, 1.1f, 0.6f, 0,
                                        0.5f, code, levels, 0.9f, r, n);
            break;
        case 5:
            rc = find_aniso_shape_model_2(img, w, h, id, -30, 90, 0.9f, 1.1f, 0.9f, 1.1f, 0.6f, 0,
                                          0.5f, code, levels, 0.9f, mask.data(), r, n);
            break;
        case 6:
            rc = find_local_deformable_model(img, w, h, id, -30, 90, 0.9f, 1.1f, 0.9f, 1.1f, 0.6f,
                                             0, 0.5f, code, levels, 0.9f, r, n, fields, fh);
            break;
        case 7:
            rc = find_shape_models(img, w, h, ids, 1, -30, 90, 0.6f, 0, 0.5f, code, levels, 0.9f, r,
                                   n);
            break;
        case 8:
            rc = find_shape_models_2(img, w, h, ids, 1, -30, 90, 0.6f, 0, 0.5f, code, levels, 0.9f,
                                     mask.data(), r, n);
            break;
        case 9:
            rc = find_shape_model_xl(img, w, h, nullptr, id, -30, 90, 0.6f, 0, 0.5f, code, levels,
                                     0.9f, 2.f, r, n);
            break;
        case 10: {
            int tiles[4] = {3, 2, 0, 0};
            rc = find_shape_model_xl(img, w, h, tiles, id, -30, 90, 0.6f, 0, 0.5f, code, levels,
                                     0.9f, 2.f, r, n);
            break;
        }
        default:
            rc = find_shape_models_xl(img, w, h, nullptr, ids, 1, -30, 90, 0.6f, 0, 0.5f, code,
                                      levels, 0.9f, 2.f, r, n);
            break;
    }
    if (rc > 0) {
        EXPECT_EQ(clear_mems(rc), 0);
    }
    if (fh > 0) {
        EXPECT_EQ(clear_mems(fh), 0);
    }
    return rc;
}
constexpr int kSearchExports = 12;

TEST(ModelFuzz, EveryInputIsRefusedOrSearchesInBoundedMemory) {
    const char* env = std::getenv("QURO_FUZZ_INPUTS");
    const long inputs = env ? std::atol(env) : 1500;
    const std::vector<Seed> seeds = seed_models();
    cv::Mat scene = quro_test::render_part_scene(cv::Size(320, 240), {{150, 120, 20}});
    const long rss_before = peak_rss_kb();
    const std::size_t models = quro::shape_model_count();
    const char* seed_env = std::getenv("QURO_FUZZ_SEED");  // another stream of inputs by hand
    std::mt19937 rng(seed_env ? static_cast<unsigned>(std::atol(seed_env)) : 20240611u);
    long accepted = 0;
    for (long n = 0; n < inputs; ++n) {
        const Seed& seed = seeds[static_cast<std::size_t>(n) % seeds.size()];
        std::string bytes = seed.bytes;
        for (int m = static_cast<int>(rng() % 4); m > 0; --m) mutate(bytes, seed, rng);
        int id = 42;
        const int rc = read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &id);
        ASSERT_EQ(rc, id) << "input " << n;
        if (rc < 0) continue;
        ++accepted;
        set_system("border_shape_models", static_cast<int>(n % 2));
        // Every seed meets every export in turn.
        const int which = static_cast<int>((n / static_cast<long>(seeds.size())) % kSearchExports);
        const int h = search_with_export(which, scene, rc, static_cast<int>(n % 6));
        EXPECT_GE(h, -2) << "input " << n << ", export " << which;
        EXPECT_EQ(clear_shape_model(rc), 0);
    }
    set_system("border_shape_models", 0);
    EXPECT_EQ(quro::shape_model_count(), models);
    EXPECT_GT(accepted, inputs / 20);  // values that only change the model still load
    EXPECT_LT(peak_rss_kb() - rss_before, 1L << 19) << "more than 512 MB at peak";
    std::printf("%ld inputs, %ld accepted and searched\n", inputs, accepted);
}

}  // namespace
