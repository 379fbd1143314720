// Helpers shared by the model file tests: a scratch directory, whole-file I/O, a record with a
// distinctive value in every field, and field-by-field comparison of records.
#ifndef QURO_TESTS_FRAME_MODEL_FILE_SUPPORT_H
#define QURO_TESTS_FRAME_MODEL_FILE_SUPPORT_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quro/model_table.h"

namespace quro_test {

using Bytes = std::vector<unsigned char>;

// A directory of its own below the system's temporary directory, removed with its content.
class ScratchDir {
public:
    ScratchDir() {
        static std::atomic<int> serial{0};
        path_ = std::filesystem::temp_directory_path() /
                ("quro_modelfile_" + std::to_string(::getpid()) + "_" +
                 std::to_string(serial.fetch_add(1)));
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string file(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

inline Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_file(const std::string& path, const Bytes& bytes, std::size_t count) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(count));
}

template <class T>
T value_at(const Bytes& bytes, std::size_t offset) {
    T v;
    std::memcpy(&v, bytes.data() + offset, sizeof(T));
    return v;
}

template <class T>
void put_at(Bytes& bytes, std::size_t offset, T v) {
    std::memcpy(bytes.data() + offset, &v, sizeof(T));
}

// Two levels (3 and 2 points) and a value in every scalar field that no default holds.
inline quro::ShapeModelRecord distinctive_record() {
    quro::ShapeModelRecord r;
    r.num_levels = 2;
    r.angle_start = -12.5f;
    r.angle_extent = 245.25f;
    r.angle_step = 0.75f;
    r.scale_min = 0.875f;
    r.scale_max = 1.125f;
    r.scale_step = 0.03125f;
    r.scale_row_min = 0.8125f;
    r.scale_row_max = 1.1875f;
    r.scale_row_step = 0.0625f;
    r.scale_col_min = 0.9375f;
    r.scale_col_max = 1.3125f;
    r.scale_col_step = 0.015625f;
    r.origin_first = -3.25f;
    r.origin_second = 7.5f;
    r.reserved = 0x11223344;
    r.metric = -1;
    r.shape_kind = 7;
    r.timeout_ms = 2345;
    r.contrast = {11, 29, 5, 13};
    r.level_widths = {640, 320};
    r.level_heights = {481, 241};
    r.box_min_x = {-20.5f, -10.25f};
    r.box_min_y = {-15.75f, -7.875f};
    r.box_max_x = {21.5f, 10.75f};
    r.box_max_y = {16.25f, 8.125f};
    r.level_radius = {26.5f, 13.25f};
    r.level_angle = {30.f, -45.5f};
    r.level_features = {
        {{1.5f, -2.5f, 0.6f, 0.8f}, {-3.f, 4.25f, -1.f, 0.f}, {12.f, 6.f, 0.f, -1.f}},
        {{0.75f, -1.25f, 0.8f, -0.6f}, {-1.5f, 2.125f, 0.f, 1.f}}};
    return r;
}

// A consistent record with one level per entry of `points`; level i holds points[i] points. Its
// boxes (rotated by the level's box angle) hold the origin and the points with half a pixel to
// spare and its radii lie a quarter pixel beyond the farthest point, as a model file requires.
inline quro::ShapeModelRecord record_with_point_counts(const std::vector<int>& points) {
    quro::ShapeModelRecord r;
    r.num_levels = static_cast<int>(points.size());
    int w = 400, h = 300;
    for (std::size_t l = 0; l < points.size(); ++l) {
        const float angle = 6.f + static_cast<float>(l);
        const double a = -static_cast<double>(angle * 0.017453292f);
        double min_x = -0.5, max_x = 0.5, min_y = -0.5, max_y = 0.5, radius = 0.25;
        std::vector<quro::Feature> level;
        for (int i = 0; i < points[l]; ++i) {
            const float x = 0.5f * i, y = -0.25f * i;
            level.emplace_back(x, y, (i % 2) ? 1.f : 0.f, (i % 2) ? 0.f : -1.f);
            const double X = x * std::cos(a) + y * std::sin(a), Y = y * std::cos(a) - x * std::sin(a);
            min_x = std::min(min_x, X - 0.5);
            max_x = std::max(max_x, X + 0.5);
            min_y = std::min(min_y, Y - 0.5);
            max_y = std::max(max_y, Y + 0.5);
            radius = std::max(radius, std::hypot(x, y) + 0.25);
        }
        r.level_widths.push_back(w);
        r.level_heights.push_back(h);
        r.box_min_x.push_back(static_cast<float>(min_x));
        r.box_min_y.push_back(static_cast<float>(min_y));
        r.box_max_x.push_back(static_cast<float>(max_x));
        r.box_max_y.push_back(static_cast<float>(max_y));
        r.level_radius.push_back(static_cast<float>(radius));
        r.level_angle.push_back(angle);
        r.level_features.push_back(level);
        w /= 2;
        h /= 2;
    }
    return r;
}

// Offsets of every element count in the bytes of `r`: the eight per-level lists, the level count
// of the feature list, then each level's point count.
inline std::vector<std::size_t> count_offsets(const quro::ShapeModelRecord& r) {
    std::vector<std::size_t> offsets;
    std::size_t at = 89;
    const std::size_t lists[] = {r.level_widths.size(), r.level_heights.size(), r.box_min_x.size(),
                                 r.box_min_y.size(),    r.box_max_x.size(),     r.box_max_y.size(),
                                 r.level_radius.size(), r.level_angle.size()};
    for (std::size_t n : lists) {
        offsets.push_back(at);
        at += 8 + 4 * n;
    }
    offsets.push_back(at);
    at += 8;
    for (const auto& level : r.level_features) {
        offsets.push_back(at);
        at += 8 + 16 * level.size();
    }
    return offsets;
}

inline void expect_same_features(const std::vector<quro::Feature>& a,
                                 const std::vector<quro::Feature>& b) {
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].x, b[i].x) << i;
        EXPECT_EQ(a[i].y, b[i].y) << i;
        EXPECT_EQ(a[i].gx, b[i].gx) << i;
        EXPECT_EQ(a[i].gy, b[i].gy) << i;
    }
}

inline void expect_same_record(const quro::ShapeModelRecord& a, const quro::ShapeModelRecord& b) {
    EXPECT_EQ(a.num_levels, b.num_levels);
    EXPECT_EQ(a.angle_start, b.angle_start);
    EXPECT_EQ(a.angle_extent, b.angle_extent);
    EXPECT_EQ(a.angle_step, b.angle_step);
    EXPECT_EQ(a.scale_min, b.scale_min);
    EXPECT_EQ(a.scale_max, b.scale_max);
    EXPECT_EQ(a.scale_step, b.scale_step);
    EXPECT_EQ(a.scale_row_min, b.scale_row_min);
    EXPECT_EQ(a.scale_row_max, b.scale_row_max);
    EXPECT_EQ(a.scale_row_step, b.scale_row_step);
    EXPECT_EQ(a.scale_col_min, b.scale_col_min);
    EXPECT_EQ(a.scale_col_max, b.scale_col_max);
    EXPECT_EQ(a.scale_col_step, b.scale_col_step);
    EXPECT_EQ(a.origin_first, b.origin_first);
    EXPECT_EQ(a.origin_second, b.origin_second);
    EXPECT_EQ(a.reserved, b.reserved);
    EXPECT_EQ(a.metric, b.metric);
    EXPECT_EQ(a.shape_kind, b.shape_kind);
    EXPECT_EQ(a.timeout_ms, b.timeout_ms);
    EXPECT_EQ(a.contrast.contrast_low, b.contrast.contrast_low);
    EXPECT_EQ(a.contrast.contrast_high, b.contrast.contrast_high);
    EXPECT_EQ(a.contrast.min_component_size, b.contrast.min_component_size);
    EXPECT_EQ(a.contrast.min_contrast, b.contrast.min_contrast);
    EXPECT_EQ(a.level_widths, b.level_widths);
    EXPECT_EQ(a.level_heights, b.level_heights);
    EXPECT_EQ(a.box_min_x, b.box_min_x);
    EXPECT_EQ(a.box_min_y, b.box_min_y);
    EXPECT_EQ(a.box_max_x, b.box_max_x);
    EXPECT_EQ(a.box_max_y, b.box_max_y);
    EXPECT_EQ(a.level_radius, b.level_radius);
    EXPECT_EQ(a.level_angle, b.level_angle);
    ASSERT_EQ(a.level_features.size(), b.level_features.size());
    for (std::size_t l = 0; l < a.level_features.size(); ++l)
        expect_same_features(a.level_features[l], b.level_features[l]);
}

}  // namespace quro_test

#endif  // QURO_TESTS_FRAME_MODEL_FILE_SUPPORT_H
