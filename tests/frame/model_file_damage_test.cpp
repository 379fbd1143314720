// Damaged, truncated and inconsistent model data: every case gives -1 with *id = -1, inserts
// nothing, allocates nothing large and throws nothing.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <string>

#include "quro/model_archive.h"
#include "quro/model_table.h"
#include "quro/model_validation.h"
#include "quro/quro.h"
#include "tests/frame/model_file_support.h"

namespace {

using quro_test::Bytes;
using quro_test::ScratchDir;

Bytes encoded(const quro::ShapeModelRecord& rec) {
    const std::string s = quro::encode_shape_model(rec);
    return Bytes(s.begin(), s.end());
}

// Reads `bytes` through the buffer export and expects a refusal that changes nothing.
void expect_refused(const Bytes& bytes, std::size_t length, const std::string& what) {
    const std::size_t models = quro::shape_model_count();
    int id = 42;
    EXPECT_EQ(read_shape_model_b(bytes.data(), static_cast<int>(length), &id), -1) << what;
    EXPECT_EQ(id, -1) << what;
    EXPECT_EQ(quro::shape_model_count(), models) << what;
}

// Reads `bytes` through the buffer export, expects a model and removes it again.
void expect_accepted(const Bytes& bytes, const std::string& what) {
    int id = -1;
    const int ret = read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &id);
    EXPECT_GE(ret, 0) << what;
    EXPECT_EQ(ret, id) << what;
    if (ret >= 0) {
        EXPECT_EQ(clear_shape_model(ret), 0);
    }
}

TEST(ModelFileTruncation, FileCutAtEveryLengthIsRefused) {
    ScratchDir dir;
    const Bytes full = encoded(quro_test::distinctive_record());
    const std::string path = dir.file("cut.shm");
    const std::size_t models = quro::shape_model_count();
    for (std::size_t len = 0; len < full.size(); ++len) {
        quro_test::write_file(path, full, len);
        int id = 42;
        EXPECT_EQ(read_shape_model(path.c_str(), &id), -1) << "length " << len;
        EXPECT_EQ(id, -1) << "length " << len;
    }
    EXPECT_EQ(quro::shape_model_count(), models);
    quro_test::write_file(path, full, full.size());
    int id = -1;
    ASSERT_EQ(read_shape_model(path.c_str(), &id), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileTruncation, BufferCutAtEveryLengthIsRefused) {
    const Bytes full = encoded(quro_test::record_with_point_counts({6, 3, 1}));
    for (std::size_t len = 1; len < full.size(); ++len)
        expect_refused(full, len, "length " + std::to_string(len));
    expect_accepted(full, "whole buffer");
}

TEST(ModelFileTruncation, BytesAfterTheRecordAreIgnored) {
    const quro::ShapeModelRecord rec = quro_test::distinctive_record();
    Bytes bytes = encoded(rec);
    bytes.insert(bytes.end(), {1, 2, 3, 4, 5});
    int id = -1;
    ASSERT_GE(read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &id), 0);
    quro_test::expect_same_record(rec, *quro::find_shape_model_record(id));
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileHugeCounts, AllOnesCountOfTheFirstListIsRefused) {
    Bytes bytes = encoded(quro_test::distinctive_record());
    quro_test::put_at<std::uint64_t>(bytes, 89, ~std::uint64_t{0});
    expect_refused(bytes, bytes.size(), "count 2^64-1 at offset 89");
}

TEST(ModelFileHugeCounts, EveryCountLargerThanTheDataIsRefused) {
    const quro::ShapeModelRecord rec = quro_test::record_with_point_counts({8, 4, 2});
    const Bytes good = encoded(rec);
    const auto offsets = quro_test::count_offsets(rec);
    ASSERT_EQ(offsets.size(), 8u + 1u + 3u);
    for (std::size_t at : offsets) {
        const std::uint64_t stored = quro_test::value_at<std::uint64_t>(good, at);
        for (std::uint64_t huge : {~std::uint64_t{0}, std::uint64_t{1} << 33,
                                   std::uint64_t{1} << 29, std::uint64_t{1} << 61,
                                   stored + good.size()}) {
            Bytes bad = good;
            quro_test::put_at<std::uint64_t>(bad, at, huge);
            expect_refused(bad, bad.size(),
                           "offset " + std::to_string(at) + " count " + std::to_string(huge));
        }
    }
}

TEST(ModelFileHugeCounts, CountsThatFitButShiftTheLayoutAreRefused) {
    // One more element than stored still fits in the remaining bytes, so it is read; the record
    // that comes out no longer adds up and must be refused all the same.
    const quro::ShapeModelRecord rec = quro_test::record_with_point_counts({8, 4, 2});
    const Bytes good = encoded(rec);
    for (std::size_t at : quro_test::count_offsets(rec)) {
        for (int delta : {-1, 1}) {
            Bytes bad = good;
            const std::uint64_t stored = quro_test::value_at<std::uint64_t>(good, at);
            quro_test::put_at<std::uint64_t>(bad, at, stored + delta);
            const std::size_t models = quro::shape_model_count();
            int id = 42;
            const int ret = read_shape_model_b(bad.data(), static_cast<int>(bad.size()), &id);
            EXPECT_EQ(ret, id);
            if (ret >= 0) {
                // Only a point count may change without breaking the level structure.
                EXPECT_GT(at, quro_test::count_offsets(rec)[8]) << "offset " << at;
                EXPECT_EQ(clear_shape_model(ret), 0);
            } else {
                EXPECT_EQ(id, -1);
            }
            EXPECT_EQ(quro::shape_model_count(), models);
        }
    }
}

TEST(ModelFileEncoding, WrongTargetSizeIsRefused) {
    const quro::ShapeModelRecord rec = quro_test::distinctive_record();
    const std::size_t size = quro::encoded_shape_model_size(rec);
    std::string block(size + 1, '\0');
    EXPECT_THROW(quro::encode_shape_model_into(rec, block.data(), size + 1), std::logic_error);
    EXPECT_THROW(quro::encode_shape_model_into(rec, block.data(), size - 1), std::logic_error);
    EXPECT_NO_THROW(quro::encode_shape_model_into(rec, block.data(), size));
    EXPECT_EQ(block.substr(0, size), quro::encode_shape_model(rec));
}

TEST(ModelFileConsistency, LevelCountMustMatchTheLists) {
    quro::ShapeModelRecord rec = quro_test::record_with_point_counts({10, 5, 2});
    rec.num_levels = 5;
    Bytes bytes = encoded(rec);
    expect_refused(bytes, bytes.size(), "num_levels 5 with 3-entry lists");

    rec.num_levels = 2;
    bytes = encoded(rec);
    expect_refused(bytes, bytes.size(), "num_levels 2 with 3-entry lists");
}

TEST(ModelFileConsistency, LevelCountMustBeOneToTen) {
    quro::ShapeModelRecord none;  // fresh: 0 levels, empty lists
    Bytes bytes = encoded(none);
    expect_refused(bytes, bytes.size(), "no levels");

    quro::ShapeModelRecord negative = quro_test::record_with_point_counts({3});
    negative.num_levels = -1;
    bytes = encoded(negative);
    expect_refused(bytes, bytes.size(), "num_levels -1");

    bytes = encoded(quro_test::record_with_point_counts(std::vector<int>(11, 2)));
    expect_refused(bytes, bytes.size(), "eleven levels");
    expect_accepted(encoded(quro_test::record_with_point_counts(std::vector<int>(10, 2))),
                    "ten levels");
    expect_accepted(encoded(quro_test::record_with_point_counts({1})), "one level");
}

TEST(ModelFileConsistency, EveryPerLevelListMustHaveOneEntryPerLevel) {
    const quro::ShapeModelRecord good = quro_test::record_with_point_counts({4, 2});
    using List = std::vector<float>;
    const auto shorten = [](quro::ShapeModelRecord& r, int which) {
        switch (which) {
            case 0: r.level_widths.pop_back(); break;
            case 1: r.level_heights.pop_back(); break;
            case 2: r.box_min_x.pop_back(); break;
            case 3: r.box_min_y.pop_back(); break;
            case 4: r.box_max_x.pop_back(); break;
            case 5: r.box_max_y.pop_back(); break;
            case 6: r.level_radius.push_back(1.f); break;
            case 7: r.level_angle = List{}; break;
            default: r.level_features.pop_back(); break;
        }
    };
    for (int which = 0; which <= 8; ++which) {
        quro::ShapeModelRecord bad = good;
        shorten(bad, which);
        const Bytes bytes = encoded(bad);
        expect_refused(bytes, bytes.size(), "list " + std::to_string(which));
    }
}

TEST(ModelFileConsistency, EmptyLevelsAndZeroSizesAreAccepted) {
    quro::ShapeModelRecord rec = quro_test::record_with_point_counts({12, 0, 0});
    rec.level_widths = {0, 0, 0};
    rec.level_heights = {5, 0, 0};
    const Bytes bytes = encoded(rec);
    int id = -1;
    ASSERT_GE(read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &id), 0);
    quro_test::expect_same_record(rec, *quro::find_shape_model_record(id));
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileDamage, RandomlyDamagedBytesNeverCrashOrLeak) {
    const Bytes good = encoded(quro_test::record_with_point_counts({20, 10, 5}));
    const std::size_t models = quro::shape_model_count();
    std::mt19937 rng(12345);
    std::uniform_int_distribution<std::size_t> pos(0, good.size() - 1);
    std::uniform_int_distribution<int> byte(0, 255);
    int accepted = 0;
    for (int trial = 0; trial < 3000; ++trial) {
        Bytes bad = good;
        const int flips = 1 + trial % 4;
        for (int f = 0; f < flips; ++f) bad[pos(rng)] = static_cast<unsigned char>(byte(rng));
        const std::size_t len = (trial % 5 == 0) ? 1 + pos(rng) : bad.size();
        int id = 42;
        const int ret = read_shape_model_b(bad.data(), static_cast<int>(len), &id);
        EXPECT_EQ(ret, id);
        if (ret >= 0) {
            ++accepted;
            auto rec = quro::find_shape_model_record(ret);
            ASSERT_TRUE(rec);
            EXPECT_TRUE(quro::shape_model_is_consistent(*rec));
            EXPECT_EQ(clear_shape_model(ret), 0);
        }
    }
    EXPECT_GT(accepted, 0);  // damage to values alone still loads
    EXPECT_EQ(quro::shape_model_count(), models);
}

}  // namespace
