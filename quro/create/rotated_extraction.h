// Rotated rectangles cut out of an 8-bit image into upright images: the bilinear sampler in
// double precision, the argument checks shared by the two rotated-rectangle exports, and the
// cut-out that model creation from a rotated rectangle builds on. Internal to the library.
//
// Geometry: with a = angle in radians, the cut-out's column direction is u = (cos a, -sin a) and
// its row direction v = (sin a, cos a), in (column, row) image coordinates. A model point (x, y)
// posed at angle a lands at centre + x * u + y * v, so a cut-out at angle a shows an instance
// posed at a upright. At angle 0 the cut-out is a plain axis-parallel crop.
#ifndef QURO_CREATE_ROTATED_EXTRACTION_H
#define QURO_CREATE_ROTATED_EXTRACTION_H

#include <opencv2/core.hpp>

namespace quro {

// Bilinear value of the 8-bit image at (x, y) (x = column, y = row), in double precision, from
// the pixels floor and ceil of each coordinate. 0 when any of those four pixels lies outside the
// image; any finite or non-finite position is safe (the range test comes before any conversion).
double sample_bilinear(const cv::Mat& image, double x, double y);

// Sampling filters of the rotated extraction: 0 one bilinear sample; 1 the mean of four at
// +-0.5 u +-0.5 v; 2 nine at -1, 0, +1 times u and v with weights 1-2-1 by 1-2-1 (sum / 16).
inline constexpr int kRotatedFilterCount = 3;

// A grid of out_width x out_height points: output pixel (c, r) samples the image at
// (cx, cy) + (first_col + c) * u + (first_row + r) * v.
struct RotatedGrid {
    double cx = 0.0;
    double cy = 0.0;
    double angle = 0.0;  // degrees
    double first_col = 0.0;
    double first_row = 0.0;
};

// Fills `out` (rows of out_width bytes) with `filter` (0..2, not checked) sampled on `grid`,
// each value truncated towards zero. Rows run in parallel; the result does not depend on it.
void render_rotated(const cv::Mat& image, const RotatedGrid& grid, int filter, unsigned char* out,
                    int out_width, int out_height);

// The centre and angle checks of both exports: all finite, and the centre no farther than
// width + height outside the image (beyond that no rectangle of an accepted size reaches it).
bool rotated_pose_valid(int width, int height, double cx, double cy, double angle);

// Cut-out of the rectangle of half-length len1 (along its columns) and half-width len2 (along its
// rows), centred on (cx, cy) and turned by `angle` degrees: columns j = (int)(-len1) .. j <= len1,
// rows k = (int)(-len2) .. k <= len2 (len1 10, len2 5: 21 x 11), each sampled with filter 1.
// Its centre pixel ((cols - 1) / 2, (rows - 1) / 2) lies at (cx, cy). Returns an empty matrix
// when image is null, width or height is below 1, the pose fails rotated_pose_valid, a length is
// negative, not finite or above width + height, or the cut-out would hold more than INT_MAX
// pixels or more than 4 (width + 2) (height + 2). May throw std::bad_alloc or an OpenCV error.
cv::Mat crop_rotated_rect(const unsigned char* image, int width, int height, double cx, double cy,
                          double angle, double len1, double len2);

}  // namespace quro

#endif  // QURO_CREATE_ROTATED_EXTRACTION_H
