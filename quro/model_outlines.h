// The outline exports (get_model_transform*, get_model_contour*) as hidden functions, for other
// exports that need a posed outline (the match details), each with the allocator of its point
// array.
#ifndef QURO_MODEL_OUTLINES_H
#define QURO_MODEL_OUTLINES_H

#include <cstddef>
#include <cstdlib>

#include "quro/quro.h"

namespace quro {

// Allocates an outline's point array of the given size in bytes, null on failure; the array is
// freed with std::free. The exports use std::malloc; tests pass a failing one.
using OutlineAllocFn = void* (*)(std::size_t);

// By value: an empty outline (count 0, handle -1) for an unknown id, a non-finite angle or scale,
// or a point array that cannot be allocated.
TemplateI get_model_transform_impl(int id, float angle, float scale,
                                   OutlineAllocFn alloc = &std::malloc);
TemplateF get_model_transform2_impl(int id, float angle, float scale,
                                    OutlineAllocFn alloc = &std::malloc);
TemplateI get_model_transform_s_impl(int id, float angle, float scale_row, float scale_col,
                                     OutlineAllocFn alloc = &std::malloc);
TemplateF get_model_transform2_s_impl(int id, float angle, float scale_row, float scale_col,
                                      OutlineAllocFn alloc = &std::malloc);

// Registered: the handle (>= 1) with *out set, or -1 with *out untouched and nothing registered.
int get_model_contour_impl(int id, float angle, float scale, TemplateI** out,
                           OutlineAllocFn alloc = &std::malloc);
int get_model_contour2_impl(int id, float angle, float scale, TemplateF** out,
                            OutlineAllocFn alloc = &std::malloc);
int get_model_contour3_impl(int id, int level, float angle, float scale, TemplateF** out,
                            OutlineAllocFn alloc = &std::malloc);
int get_model_contour_s_impl(int id, float angle, float scale_row, float scale_col, TemplateI** out,
                             OutlineAllocFn alloc = &std::malloc);
int get_model_contour2_s_impl(int id, float angle, float scale_row, float scale_col,
                              TemplateF** out, OutlineAllocFn alloc = &std::malloc);
int get_model_contour3_s_impl(int id, int level, float angle, float scale_row, float scale_col,
                              TemplateF** out, OutlineAllocFn alloc = &std::malloc);

}  // namespace quro

#endif  // QURO_MODEL_OUTLINES_H
