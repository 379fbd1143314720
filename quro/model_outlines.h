// The outline exports (get_model_transform*, get_model_contour*) as hidden functions, for other
// exports that need a posed outline (the match details), and the allocation seam of their point
// arrays.
#ifndef QURO_MODEL_OUTLINES_H
#define QURO_MODEL_OUTLINES_H

#include <cstddef>

#include "quro/quro.h"

namespace quro {

// By value: an empty outline (count 0, handle -1) for an unknown id, a non-finite angle or scale,
// or a point array that cannot be allocated.
TemplateI get_model_transform_impl(int id, float angle, float scale);
TemplateF get_model_transform2_impl(int id, float angle, float scale);
TemplateI get_model_transform_s_impl(int id, float angle, float scale_row, float scale_col);
TemplateF get_model_transform2_s_impl(int id, float angle, float scale_row, float scale_col);

// Registered: the handle (>= 1) with *out set, or -1 with *out untouched and nothing registered.
int get_model_contour_impl(int id, float angle, float scale, TemplateI** out);
int get_model_contour2_impl(int id, float angle, float scale, TemplateF** out);
int get_model_contour3_impl(int id, int level, float angle, float scale, TemplateF** out);
int get_model_contour_s_impl(int id, float angle, float scale_row, float scale_col,
                             TemplateI** out);
int get_model_contour2_s_impl(int id, float angle, float scale_row, float scale_col,
                              TemplateF** out);
int get_model_contour3_s_impl(int id, int level, float angle, float scale_row, float scale_col,
                              TemplateF** out);

// The function that allocates an outline's point array (std::malloc unless replaced; the array is
// freed with std::free). Tests replace it to check how allocation failure is handled; the
// previous function is returned. Not meant to be changed while outlines are being built.
using OutlineAllocFn = void* (*)(std::size_t);
OutlineAllocFn set_outline_alloc_for_testing(OutlineAllocFn fn);

}  // namespace quro

#endif  // QURO_MODEL_OUTLINES_H
