// Quadratic peak fits on score windows: the sub-pixel offset (and angle offset) of a score peak
// from the samples around its best cell. A window is a square of size x size floats, cell (i, j)
// (column i, row j) at w[j * size + i]; the fits read the 3 x 3 cells around (i, j), which must lie
// within 1 .. size - 2 on both axes.
#ifndef QURO_MATCH_SUBPIXEL_PEAK_SURFACE_H
#define QURO_MATCH_SUBPIXEL_PEAK_SURFACE_H

namespace quro {

// Offset of a fitted peak from the best sample: columns, rows, degrees.
struct PeakOffset {
    float dx;
    float dy;
    float dangle;
};

// Three-dimensional fit over 27 samples: the 3 x 3 cells around (i, j) of the windows of three
// angles, at angle offsets t[0], t[1], t[2] (degrees, relative to the best angle; normally -step,
// 0, +step). Least squares (singular value decomposition) of
//   s = cyy ey^2 + cxx ex^2 + ctt t^2 + cxy ex ey + cty t ey + ctx t ex + cy ey + cx ex + ct t +
//   c0,
// then the stationary point H (oy, ox, ot) = -(cy, cx, ct) with
// H = [[2 cyy, cxy, cty], [cxy, 2 cxx, ctx], [cty, ctx, 2 ctt]]. Accepted, and written to `out`,
// when H can be inverted and |ox| <= 1, |oy| <= 1, |ot| <= angle_step (all finite); otherwise
// false with `out` untouched. H counts as singular also when it is so to working precision: its
// entries all below 1e-9 times the largest sample, or its inverse condition number below 1e-9.
bool fit_peak_3d(const float* const windows[3], const float t[3], int size, int i, int j,
                 float angle_step, PeakOffset& out);

// Two-dimensional fit on the 3 x 3 cells w(ey, ex) around (i, j) of one window: row sums R and
// column sums C give gy = (R+1 - R-1) / 6, gx = (C+1 - C-1) / 6,
// ayy = (R+1 + R-1 - 2 R0) / 6, axx = (C+1 + C-1 - 2 C0) / 6,
// axy = (w(-1,-1) - w(-1,+1) - w(+1,-1) + w(+1,+1)) / 4. Only when both eigenvalues of
// [[2 ayy, axy], [axy, 2 axx]] are negative (a maximum), the step along the eigenvector (vy, vx) of
// the stronger curvature (the first, of the larger eigenvalue, only when both have the same size)
// is t = -0.5 (vy gy + vx gx) / (vy^2 ayy + vy vx axy + vx^2 axx); it is accepted when
// |vx t| <= 0.6 and |vy t| <= 0.6, giving dx = vx t, dy = vy t. Otherwise false, dx and dy
// untouched. Single precision throughout.
bool fit_peak_2d(const float* window, int size, int i, int j, float& dx, float& dy);

}  // namespace quro

#endif  // QURO_MATCH_SUBPIXEL_PEAK_SURFACE_H
