// The byte form of a shape model, shared by model files and model memory buffers: a cereal
// binary archive of one ShapeModelRecord, little-endian, without header, magic or version word.
//
//   offset  size  field
//        0     4  num_levels (int32)
//        4    48  angle_start, angle_extent, angle_step, scale_min, scale_max, scale_step,
//                 scale_row_min, scale_row_max, scale_row_step, scale_col_min, scale_col_max,
//                 scale_col_step (float32 each)
//       52     8  origin_first, origin_second (float32)
//       60     4  reserved (int32)
//       64     4  metric (int32)
//       68     1  shape_kind (uint8)
//       69     4  timeout_ms (int32)
//       73    16  contrast_low, contrast_high, min_component_size, min_contrast (int32)
//       89        level_widths, level_heights, box_min_x, box_min_y, box_max_x, box_max_y,
//                 level_radius, level_angle: each a uint64 count n, then n 4-byte elements
//                 level_features: a uint64 level count, then per level a uint64 point count n
//                 and n points of 16 bytes (float32 x, y, gx, gy)
//
// A record with L levels and N points in all takes 161 + 40 L + 16 N bytes.
#ifndef QURO_MODEL_ARCHIVE_H
#define QURO_MODEL_ARCHIVE_H

#include <cstddef>
#include <string>

#include "quro/model_table.h"

namespace quro {

// Number of bytes encode_shape_model produces for `rec`.
std::size_t encoded_shape_model_size(const ShapeModelRecord& rec);

// The archive bytes of `rec`, written as stored (nothing is recomputed). May throw
// std::bad_alloc.
std::string encode_shape_model(const ShapeModelRecord& rec);

// Writes the archive bytes of `rec` into `size` bytes at `dst`; `size` must be
// encoded_shape_model_size(rec). Throws std::logic_error when it is not.
void encode_shape_model_into(const ShapeModelRecord& rec, void* dst, std::size_t size);

// Reads one record from `size` bytes at `data` into `out` (which is reset first). Every field is
// taken as stored. Returns false, with `out` unspecified, when the bytes end early, a count
// exceeds what the remaining bytes can hold, or the record fails validate_shape_model_record.
// Bytes after the record are ignored. Never allocates more than a small multiple of `size`; may
// throw std::bad_alloc.
bool decode_shape_model(const void* data, std::size_t size, ShapeModelRecord& out);

}  // namespace quro

#endif  // QURO_MODEL_ARCHIVE_H
