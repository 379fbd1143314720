#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "tests/frame/model_file_support.h"

namespace {

using quro_test::Bytes;
using quro_test::ScratchDir;

// Appends values byte for byte, the way the file layout lists them.
class ByteAssembler {
public:
    template <class T>
    void put(T v) {
        const std::size_t at = bytes_.size();
        bytes_.resize(at + sizeof(T));
        std::memcpy(bytes_.data() + at, &v, sizeof(T));
    }
    template <class T>
    void put_list(const std::vector<T>& v) {
        put<std::uint64_t>(v.size());
        for (const T& x : v) put<T>(x);
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

Bytes expected_bytes(const quro::ShapeModelRecord& r) {
    ByteAssembler a;
    a.put<std::int32_t>(r.num_levels);
    for (float f : {r.angle_start, r.angle_extent, r.angle_step, r.scale_min, r.scale_max,
                    r.scale_step, r.scale_row_min, r.scale_row_max, r.scale_row_step,
                    r.scale_col_min, r.scale_col_max, r.scale_col_step, r.origin_first,
                    r.origin_second})
        a.put<float>(f);
    a.put<std::int32_t>(r.reserved);
    a.put<std::int32_t>(r.metric);
    a.put<std::uint8_t>(r.shape_kind);
    a.put<std::int32_t>(r.timeout_ms);
    a.put<std::int32_t>(r.contrast.contrast_low);
    a.put<std::int32_t>(r.contrast.contrast_high);
    a.put<std::int32_t>(r.contrast.min_component_size);
    a.put<std::int32_t>(r.contrast.min_contrast);
    a.put_list(r.level_widths);
    a.put_list(r.level_heights);
    a.put_list(r.box_min_x);
    a.put_list(r.box_min_y);
    a.put_list(r.box_max_x);
    a.put_list(r.box_max_y);
    a.put_list(r.level_radius);
    a.put_list(r.level_angle);
    a.put<std::uint64_t>(r.level_features.size());
    for (const auto& level : r.level_features) {
        a.put<std::uint64_t>(level.size());
        for (const auto& p : level) {
            a.put<float>(p.x);
            a.put<float>(p.y);
            a.put<float>(p.gx);
            a.put<float>(p.gy);
        }
    }
    return a.bytes();
}

// Writes model `id` through write_shape_model_b, copies the bytes and frees the block.
Bytes buffer_bytes(int id) {
    void* buf = nullptr;
    int len = 0;
    const int handle = write_shape_model_b(id, &buf, &len);
    EXPECT_GE(handle, 1);
    if (handle < 1) return {};
    Bytes out(static_cast<const unsigned char*>(buf), static_cast<const unsigned char*>(buf) + len);
    EXPECT_EQ(clear_mems(handle), 0);
    return out;
}

TEST(ModelFileLayout, FileAndBufferMatchTheHandAssembledBytes) {
    ScratchDir dir;
    const quro::ShapeModelRecord rec = quro_test::distinctive_record();
    const Bytes expected = expected_bytes(rec);
    ASSERT_EQ(expected.size(), 161u + 40u * 2u + 16u * 5u);

    const int id = quro::add_shape_model(rec);
    const std::string path = dir.file("golden.shm");
    ASSERT_EQ(write_shape_model(id, path.c_str()), 0);
    const Bytes file = quro_test::read_file(path);
    EXPECT_EQ(file, expected);
    EXPECT_EQ(buffer_bytes(id), expected);

    ASSERT_EQ(file.size(), expected.size());
    EXPECT_EQ(quro_test::value_at<std::int32_t>(file, 0), 2);          // num_levels
    EXPECT_EQ(file[68], 7);                                             // shape_kind, one byte
    EXPECT_EQ(quro_test::value_at<std::int32_t>(file, 69), 2345);       // timeout_ms
    EXPECT_EQ(quro_test::value_at<std::int32_t>(file, 85), 13);         // min_contrast
    EXPECT_EQ(quro_test::value_at<std::uint64_t>(file, 89), 2u);        // count of level_widths
    EXPECT_EQ(quro_test::value_at<std::int32_t>(file, 97), 640);        // first level width
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileLayout, SizeGrowsBy40PerLevelAnd16PerPoint) {
    ScratchDir dir;
    const int id = quro::add_shape_model(quro_test::record_with_point_counts({100, 50, 25}));
    const std::string path = dir.file("three_levels.shm");
    ASSERT_EQ(write_shape_model(id, path.c_str()), 0);
    EXPECT_EQ(std::filesystem::file_size(path), 3081u);

    void* buf = nullptr;
    int len = 0;
    const int handle = write_shape_model_b(id, &buf, &len);
    ASSERT_GE(handle, 1);
    EXPECT_EQ(len, 3081);
    EXPECT_EQ(Bytes(static_cast<unsigned char*>(buf), static_cast<unsigned char*>(buf) + len),
              quro_test::read_file(path));
    EXPECT_EQ(clear_mems(handle), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileRoundTrip, WriteReadWriteGivesIdenticalFilesAndFields) {
    ScratchDir dir;
    quro::ShapeModelRecord rec = quro_test::distinctive_record();
    rec.shape_kind = 1;
    const int id = quro::add_shape_model(rec);
    set_shape_model_origin(id, 4.75f, -9.5f);
    // A search writes its angle range into the stored model; the file keeps that range.
    auto stored = quro::find_shape_model_record(id);
    stored->angle_start = -33.f;
    stored->angle_extent = 66.5f;

    const std::string first = dir.file("first.shm");
    const std::string second = dir.file("second.shm");
    ASSERT_EQ(write_shape_model(id, first.c_str()), 0);
    int loaded = -7;
    ASSERT_EQ(read_shape_model(first.c_str(), &loaded), 0);
    ASSERT_GE(loaded, 0);
    EXPECT_NE(loaded, id);
    ASSERT_EQ(write_shape_model(loaded, second.c_str()), 0);
    EXPECT_EQ(quro_test::read_file(first), quro_test::read_file(second));

    auto back = quro::find_shape_model_record(loaded);
    ASSERT_TRUE(back);
    quro_test::expect_same_record(*stored, *back);
    EXPECT_EQ(back->reserved, 0x11223344);
    EXPECT_EQ(back->origin_first, 4.75f);
    EXPECT_EQ(back->origin_second, -9.5f);
    EXPECT_EQ(back->shape_kind, 1);
    EXPECT_EQ(back->angle_start, -33.f);
    EXPECT_EQ(back->angle_extent, 66.5f);
    EXPECT_EQ(clear_shape_model(loaded), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileRoundTrip, BufferRoundTripKeepsEveryField) {
    const quro::ShapeModelRecord rec = quro_test::record_with_point_counts({37, 0, 5});
    const int id = quro::add_shape_model(rec);
    const Bytes bytes = buffer_bytes(id);
    int loaded = -7;
    const int ret = read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), &loaded);
    ASSERT_GE(ret, 0);
    EXPECT_EQ(ret, loaded);
    auto back = quro::find_shape_model_record(loaded);
    ASSERT_TRUE(back);
    quro_test::expect_same_record(rec, *back);
    EXPECT_EQ(buffer_bytes(loaded), bytes);
    EXPECT_EQ(clear_shape_model(loaded), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFileRoundTrip, FileAndBufferAreInterchangeable) {
    ScratchDir dir;
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const std::string path = dir.file("from_buffer.shm");
    const Bytes bytes = buffer_bytes(id);
    quro_test::write_file(path, bytes, bytes.size());
    int loaded = -1;
    ASSERT_EQ(read_shape_model(path.c_str(), &loaded), 0);
    quro_test::expect_same_record(*quro::find_shape_model_record(id),
                                  *quro::find_shape_model_record(loaded));
    EXPECT_EQ(clear_shape_model(loaded), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFilePaths, MissingDirectoryCannotBeWritten) {
    ScratchDir dir;
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const std::string path = dir.file("no_such_dir/model.shm");
    EXPECT_EQ(write_shape_model(id, path.c_str()), -1);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(write_shape_model(id, dir.path().string().c_str()), -1);  // a directory
    EXPECT_EQ(write_shape_model(id, ""), -1);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFilePaths, MissingFileOrDirectoryCannotBeRead) {
    ScratchDir dir;
    const std::size_t models = quro::shape_model_count();
    int id = 5;
    EXPECT_EQ(read_shape_model(dir.file("absent.shm").c_str(), &id), -1);
    EXPECT_EQ(id, -1);
    id = 5;
    EXPECT_EQ(read_shape_model(dir.path().string().c_str(), &id), -1);
    EXPECT_EQ(id, -1);
    id = 5;
    EXPECT_EQ(read_shape_model("", &id), -1);
    EXPECT_EQ(id, -1);
    if (std::filesystem::exists("/dev/zero")) {
        id = 5;  // a device delivering bytes without end is refused, not read until memory runs out
        EXPECT_EQ(read_shape_model("/dev/zero", &id), -1);
        EXPECT_EQ(id, -1);
    }
    EXPECT_EQ(quro::shape_model_count(), models);
}

TEST(ModelFilePaths, NamedPipeIsRefusedInsteadOfWaitingForAWriter) {
    ScratchDir dir;
    const std::string fifo = dir.file("model.fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int id = 5;
    EXPECT_EQ(read_shape_model(fifo.c_str(), &id), -1);
    EXPECT_EQ(id, -1);
}

TEST(ModelFilePaths, FailingWriteReportsFailure) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    const int id = quro::add_shape_model(quro_test::record_with_point_counts({3000}));
    EXPECT_EQ(write_shape_model(id, "/dev/full"), -1);  // opens, but every write fails
    // A small model fits the stream's buffer: the failure shows only when it is flushed.
    const int small = quro::add_shape_model(quro_test::distinctive_record());
    EXPECT_EQ(write_shape_model(small, "/dev/full"), -1);
    EXPECT_EQ(clear_shape_model(small), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFilePaths, RefusedWriteLeavesTheOldFileAlone) {
    ScratchDir dir;
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const std::string path = dir.file("keep.shm");
    ASSERT_EQ(write_shape_model(id, path.c_str()), 0);
    const Bytes before = quro_test::read_file(path);
    EXPECT_EQ(write_shape_model(id + 1000, path.c_str()), -1);
    EXPECT_EQ(write_shape_model(-1, path.c_str()), -1);
    EXPECT_EQ(quro_test::read_file(path), before);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelFilePaths, PathBytesArePassedOnAsTheyAre) {
    ScratchDir dir;
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    // UTF-8 bytes and a space: the file gets exactly this name.
    const std::string path = dir.file("mod\xc3\xa8le 1.shm");
    ASSERT_EQ(write_shape_model(id, path.c_str()), 0);
    EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(path)));
    int loaded = -1;
    EXPECT_EQ(read_shape_model(path.c_str(), &loaded), 0);
    EXPECT_GE(loaded, 0);
    EXPECT_EQ(clear_shape_model(loaded), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelBuffers, EmptyBufferIsRefusedAndInsertsNothing) {
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const Bytes bytes = buffer_bytes(id);
    const std::size_t models = quro::shape_model_count();
    int loaded = 3;
    EXPECT_EQ(read_shape_model_b(bytes.data(), 0, &loaded), -1);
    EXPECT_EQ(loaded, -1);
    loaded = 3;
    EXPECT_EQ(read_shape_model_b(bytes.data(), -5, &loaded), -1);
    EXPECT_EQ(loaded, -1);
    EXPECT_EQ(quro::shape_model_count(), models);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelBuffers, BufferIsRegisteredAsBytesAndFreedByClearMems) {
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const std::size_t blocks = quro::registered_result_count();
    void* buf = nullptr;
    int len = 0;
    const int handle = write_shape_model_b(id, &buf, &len);
    ASSERT_GE(handle, 1);
    ASSERT_NE(buf, nullptr);
    quro::ResultEntry entry{};
    ASSERT_TRUE(quro::lookup_result(handle, &entry));
    EXPECT_EQ(entry.kind, quro::kResultBytes);
    EXPECT_EQ(entry.count, len);
    EXPECT_EQ(entry.block, buf);
    EXPECT_EQ(quro::registered_result_count(), blocks + 1);

    int loaded = -1;
    const int ret = read_shape_model_b(buf, len, &loaded);
    EXPECT_GE(ret, 0);
    EXPECT_EQ(ret, loaded);
    EXPECT_EQ(clear_mems(handle), 0);
    EXPECT_EQ(quro::registered_result_count(), blocks);
    EXPECT_EQ(clear_shape_model(loaded), 0);
    EXPECT_EQ(clear_shape_model(id), 0);
}

TEST(ModelBuffers, UnknownModelGivesNoBuffer) {
    const std::size_t blocks = quro::registered_result_count();
    void* buf = &buf;
    int len = 77;
    EXPECT_EQ(write_shape_model_b(-1, &buf, &len), -1);
    EXPECT_EQ(buf, nullptr);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(write_shape_model_b(123456, &buf, &len), -1);
    EXPECT_EQ(quro::registered_result_count(), blocks);
}

TEST(ModelNullArguments, NullPointersAreRefusedBeforeAnyWork) {
    const int id = quro::add_shape_model(quro_test::distinctive_record());
    const Bytes bytes = buffer_bytes(id);
    const std::size_t models = quro::shape_model_count();
    const std::size_t blocks = quro::registered_result_count();
    void* buf = nullptr;
    int len = 0;
    int out = 9;

    EXPECT_EQ(write_shape_model(id, nullptr), -1);
    EXPECT_EQ(read_shape_model(nullptr, &out), -1);
    EXPECT_EQ(out, -1);
    EXPECT_EQ(write_shape_model_b(id, nullptr, &len), -1);
    EXPECT_EQ(write_shape_model_b(id, &buf, nullptr), -1);
    out = 9;
    EXPECT_EQ(read_shape_model_b(nullptr, 100, &out), -1);
    EXPECT_EQ(out, -1);
    // A valid buffer with nowhere to put the id inserts nothing.
    EXPECT_EQ(read_shape_model_b(bytes.data(), static_cast<int>(bytes.size()), nullptr), -1);

    ScratchDir dir;
    const std::string path = dir.file("valid.shm");
    ASSERT_EQ(write_shape_model(id, path.c_str()), 0);
    EXPECT_EQ(read_shape_model(path.c_str(), nullptr), -1);

    EXPECT_EQ(quro::shape_model_count(), models);
    EXPECT_EQ(quro::registered_result_count(), blocks);
    EXPECT_EQ(clear_shape_model(id), 0);
}

}  // namespace
