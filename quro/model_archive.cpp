#include "quro/model_archive.h"

#include <bit>
#include <cstdint>
#include <istream>
#include <limits>
#include <ostream>
#include <stdexcept>
#include <streambuf>
#include <type_traits>
#include <vector>

#include <cereal/archives/binary.hpp>
#include <cereal/cereal.hpp>

#include "quro/model_validation.h"

namespace quro {

// The archive stores the host's bytes as they are; the layout is little-endian with 4-byte int
// and float, a 1-byte shape kind and 16-byte points.
static_assert(std::endian::native == std::endian::little, "model files are little-endian");
static_assert(sizeof(int) == 4 && sizeof(float) == 4);
static_assert(std::numeric_limits<float>::is_iec559);
static_assert(std::is_same_v<decltype(ShapeModelRecord::shape_kind), std::uint8_t>);
static_assert(sizeof(Feature) == 16 && std::is_trivially_copyable_v<Feature>);
static_assert(std::is_same_v<cereal::size_type, std::uint64_t>);

namespace {

constexpr std::size_t kScalarBytes = 89;  // num_levels .. min_contrast
constexpr std::size_t kCountBytes = sizeof(std::uint64_t);
constexpr std::size_t kPerLevelLists = 8;

// Output into a block of known size; writing past its end makes the archive throw.
class FixedOutputBuffer : public std::streambuf {
public:
    FixedOutputBuffer(char* begin, std::size_t size) { setp(begin, begin + size); }
    std::size_t written() const { return static_cast<std::size_t>(pptr() - pbase()); }
};

// Input from a block in memory, which knows how many bytes are left.
class MemoryInputBuffer : public std::streambuf {
public:
    MemoryInputBuffer(const char* begin, std::size_t size) {
        // The get area is only read: putback is not supported (pbackfail keeps its default).
        char* p = const_cast<char*>(begin);
        setg(p, p, p + size);
    }
    std::size_t remaining() const { return static_cast<std::size_t>(egptr() - gptr()); }
};

// Both directions of the fixed-size fields, in file order.
template <class Archive, class Record>
void scalar_fields(Archive& ar, Record& r) {
    ar(r.num_levels, r.angle_start, r.angle_extent, r.angle_step);
    ar(r.scale_min, r.scale_max, r.scale_step);
    ar(r.scale_row_min, r.scale_row_max, r.scale_row_step);
    ar(r.scale_col_min, r.scale_col_max, r.scale_col_step);
    ar(r.origin_first, r.origin_second, r.reserved, r.metric, r.shape_kind, r.timeout_ms);
    ar(r.contrast.contrast_low, r.contrast.contrast_high, r.contrast.min_component_size,
       r.contrast.min_contrast);
}

template <class T>
void save_list(cereal::BinaryOutputArchive& ar, const std::vector<T>& v) {
    ar(cereal::make_size_tag(static_cast<cereal::size_type>(v.size())));
    if (!v.empty()) ar(cereal::binary_data(v.data(), v.size() * sizeof(T)));
}

// Reads a count and that many elements. A count larger than the bytes left could hold is
// refused before anything is allocated.
template <class T>
bool load_list(cereal::BinaryInputArchive& ar, const MemoryInputBuffer& in, std::vector<T>& v) {
    cereal::size_type n = 0;
    ar(cereal::make_size_tag(n));
    if (n > in.remaining() / sizeof(T)) return false;
    v.resize(static_cast<std::size_t>(n));
    if (n != 0) ar(cereal::binary_data(v.data(), v.size() * sizeof(T)));
    return true;
}

}  // namespace

std::size_t encoded_shape_model_size(const ShapeModelRecord& rec) {
    std::size_t bytes = kScalarBytes + kCountBytes * (kPerLevelLists + 1);
    for_each_level_list(rec, [&](const auto& v) { bytes += v.size() * sizeof(v[0]); });
    for (const auto& level : rec.level_features)
        bytes += kCountBytes + level.size() * sizeof(Feature);
    return bytes;
}

void encode_shape_model_into(const ShapeModelRecord& rec, void* dst, std::size_t size) {
    if (size != encoded_shape_model_size(rec))
        throw std::logic_error("model archive size mismatch");
    FixedOutputBuffer buf(static_cast<char*>(dst), size);
    {
        std::ostream os(&buf);
        cereal::BinaryOutputArchive ar(os);
        scalar_fields(ar, rec);
        for_each_level_list(rec, [&](const auto& v) { save_list(ar, v); });
        ar(cereal::make_size_tag(static_cast<cereal::size_type>(rec.level_features.size())));
        for (const auto& level : rec.level_features) save_list(ar, level);
    }
    if (buf.written() != size) throw std::logic_error("model archive size mismatch");
}

std::string encode_shape_model(const ShapeModelRecord& rec) {
    std::string bytes(encoded_shape_model_size(rec), '\0');
    encode_shape_model_into(rec, bytes.data(), bytes.size());
    return bytes;
}

bool decode_shape_model(const void* data, std::size_t size, ShapeModelRecord& out) {
    reset_shape_model_record(out);
    if (data == nullptr) return false;
    MemoryInputBuffer in(static_cast<const char*>(data), size);
    std::istream is(&in);
    try {
        cereal::BinaryInputArchive ar(is);
        scalar_fields(ar, out);
        bool ok = true;
        for_each_level_list(out, [&](auto& v) { ok = ok && load_list(ar, in, v); });
        if (!ok) return false;
        cereal::size_type levels = 0;
        ar(cereal::make_size_tag(levels));
        if (levels > in.remaining() / kCountBytes) return false;  // each level needs its count
        out.level_features.resize(static_cast<std::size_t>(levels));
        for (auto& level : out.level_features)
            if (!load_list(ar, in, level)) return false;
    } catch (const cereal::Exception&) {
        return false;  // the bytes ended before the record did
    }
    return validate_shape_model_record(out) == 0;
}

}  // namespace quro
