// Mutation fuzzing of model buffers: every damaged or hostile input is refused with -1, or gives a
// model that searches a 640 x 480 scene without fault, within a second and bounded memory,
// whatever time-out it holds. QURO_FUZZ_INPUTS sets the number of inputs (default 1500; the
// first input of this stream that made the unvalidated search hang is number 478).
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
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

#if defined(__SANITIZE_ADDRESS__)
constexpr double kSecondsPerSearch = 5.0;  // the sanitizers slow everything down several times
#else
constexpr double kSecondsPerSearch = 1.0;
#endif

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

// An image model of the part, a circle outline and a point list: the valid inputs mutated.
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
    return {encoded_model(a), encoded_model(b), encoded_model(d)};
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
        case 0: b[rng() % b.size()] = static_cast<char>(rng()); break;
        case 1: if (fits) std::memcpy(&b[f], &floats[rng() % 7], 4); break;
        case 2: if (fits) std::memcpy(&b[f], &ints[rng() % 7], 4); break;
        case 3: b.resize(1 + rng() % b.size()); break;
        default: if (b.size() >= 73) std::memset(&b[69], 0, 4); break;
    }
}

TEST(ModelFuzz, EveryInputIsRefusedOrSearchesInBoundedTimeAndMemory) {
    const char* env = std::getenv("QURO_FUZZ_INPUTS");
    const long inputs = env ? std::atol(env) : 1500;
    const std::vector<Seed> seeds = seed_models();
    cv::Mat scene =
        quro_test::render_part_scene(cv::Size(640, 480), {{200, 180, 20}, {450, 300, -35}});
    const long rss_before = peak_rss_kb();
    const std::size_t models = quro::shape_model_count();
    std::mt19937 rng(20240611);
    long accepted = 0;
    for (long n = 0; n < inputs; ++n) {
        const Seed& seed = seeds[static_cast<std::size_t>(n) % seeds.size()];
        std::string bytes = seed.bytes;
        for (int m = 1 + static_cast<int>(rng() % 4); m > 0; --m) mutate(bytes, seed, rng);
        int id = 42;
        const int rc = read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &id);
        ASSERT_EQ(rc, id) << "input " << n;
        if (rc < 0) continue;
        ++accepted;
        set_system("border_shape_models", static_cast<int>(n % 2));
        int levels[2] = {0, 0};
        quro::Match* results = nullptr;
        int count = 0;
        const auto t0 = std::chrono::steady_clock::now();
        const int h = find_shape_model(scene.data, scene.cols, scene.rows, rc, -30, 90, 0.6f, 0,
                                       0.5f, static_cast<int>(n % 6), levels, 0.9f, results, count);
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - t0;
        EXPECT_LT(spent.count(), kSecondsPerSearch) << "input " << n;
        EXPECT_GE(h, -2) << "input " << n;
        if (h > 0) {
            EXPECT_EQ(clear_mems(h), 0);
        }
        EXPECT_EQ(clear_shape_model(rc), 0);
    }
    set_system("border_shape_models", 0);
    EXPECT_EQ(quro::shape_model_count(), models);
    EXPECT_GT(accepted, inputs / 20);  // values that only change the model still load
    EXPECT_LT(peak_rss_kb() - rss_before, 1L << 20) << "more than 1 GB at peak";
    std::printf("%ld inputs, %ld accepted and searched\n", inputs, accepted);
}

}  // namespace
