// quro: shape-based matching, sub-pixel edges, regions and one-dimensional measuring for 8-bit
// grey images.
//
// General rules for every function below:
// - Images are 8-bit single-channel buffers, rows stored one after another, each exactly `width`
//   bytes long. A mask is a second buffer of the same size; 0 marks pixels to ignore.
// - x is the column and y the row, in full-resolution pixels; angles are in degrees.
// - Functions that can fail return an int: negative values are errors (-1 bad argument, unknown
//   id or handle, empty input or allocation failure; -2 time-out; -4 inconsistent shape
//   arguments). No C++ exception leaves a function of this header, except the region class's
//   "malloc failed" / "realloc failed".
// - Every array the library allocates for a caller is registered under a handle (an int >= 1)
//   and is freed only by passing that handle to clear_mems(). Never free such an array yourself.
// - Models belong to the library's model table: they live until clear_shape_model() or process
//   end. Model ids are the lowest free value from 0, handles the lowest free value from 1; both
//   are reused after they are cleared.
#ifndef QURO_QURO_H
#define QURO_QURO_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#define QURO_API __attribute__((visibility("default")))

// ================================================================================================
// Library frame and model store: value types, result registry, model table, settings, console
// ================================================================================================

namespace quro {

// One found instance of a model. 40 bytes, trivially copyable. The sub-pixel position is
// (x + dx, y + dy). `flag` is the match's polarity: 1, or -1 when the model was found with
// reversed contrast under a negative metric.
struct QURO_API Match {
    int x;
    int y;
    int model_id;
    float angle;      // degrees
    float scale_row;  // uniform scale, or row scale of the anisotropic search
    float scale_col;  // column scale of the anisotropic search
    float score;
    signed char flag;
    float dx;
    float dy;

    // Sets nothing, not even dx and dy.
    Match() = default;
    Match(int x_, int y_, float score_) : x(x_), y(y_), score(score_), dx(0.f), dy(0.f) {}
    Match(int x_, int y_, float score_, float angle_)
        : x(x_), y(y_), angle(angle_), score(score_), dx(0.f), dy(0.f) {}
    Match(int x_, int y_, float score_, float angle_, float scale_row_)
        : x(x_), y(y_), angle(angle_), scale_row(scale_row_), score(score_), dx(0.f), dy(0.f) {}
    Match(int x_, int y_, float score_, float angle_, float scale_row_, int model_id_)
        : x(x_), y(y_), model_id(model_id_), angle(angle_), scale_row(scale_row_), score(score_),
          dx(0.f), dy(0.f) {}
    Match(int x_, int y_, float score_, float angle_, float scale_row_, int model_id_,
          signed char flag_)
        : x(x_), y(y_), model_id(model_id_), angle(angle_), scale_row(scale_row_), score(score_),
          flag(flag_), dx(0.f), dy(0.f) {}
    Match(int x_, int y_, float score_, float angle_, float scale_row_, float scale_col_,
          int model_id_, signed char flag_)
        : x(x_), y(y_), model_id(model_id_), angle(angle_), scale_row(scale_row_),
          scale_col(scale_col_), score(score_), flag(flag_), dx(0.f), dy(0.f) {}

    // True when this match scores higher: an ascending sort puts the best match first.
    bool operator<(const Match& o) const { return score > o.score; }
    // Same pixel and same score; every other field is ignored. A NaN score is never equal.
    bool operator==(const Match& o) const { return x == o.x && y == o.y && score == o.score; }
};

// One model point, relative to the model's reference point, with its edge direction.
struct QURO_API Feature {
    float x;
    float y;
    float gx;
    float gy;

    Feature() : x(0.f), y(0.f), gx(0.f), gy(0.f) {}
    Feature(float x_, float y_, float gx_, float gy_) : x(x_), y(y_), gx(gx_), gy(gy_) {}
};

// One model point with an integer position. `tag` is -1 after default construction.
struct QURO_API FeatureI {
    int x;
    int y;
    float gx;
    float gy;
    int tag;

    FeatureI() : x(0), y(0), gx(0.f), gy(0.f), tag(-1) {}
    FeatureI(int x_, int y_, float gx_, float gy_, int tag_)
        : x(x_), y(y_), gx(gx_), gy(gy_), tag(tag_) {}
};

// A model outline: bounding box of the rounded point positions (relative to the reference point),
// the model image's size on the outline's level, and `count` points in a malloc'd array.
// `handle` is the result-registry handle of a registered outline, -1 for one returned by value.
// The object owns `points`: copies are deep, a moved-from object is left empty. A registered
// outline is freed with clear_mems(handle); never destroy it yourself.
struct QURO_API TemplateI {
    int min_x;
    int min_y;
    int max_x;
    int max_y;
    int level_width;
    int level_height;
    int count;
    int handle;
    FeatureI* points;

    TemplateI();
    ~TemplateI();
    TemplateI(const TemplateI& o);
    TemplateI(TemplateI&& o) noexcept;
    TemplateI& operator=(const TemplateI& o);
    TemplateI& operator=(TemplateI&& o) noexcept;
};

// As TemplateI, with float point positions.
struct QURO_API TemplateF {
    int min_x;
    int min_y;
    int max_x;
    int max_y;
    int level_width;
    int level_height;
    int count;
    int handle;
    Feature* points;

    TemplateF();
    ~TemplateF();
    TemplateF(const TemplateF& o);
    TemplateF(TemplateF&& o) noexcept;
    TemplateF& operator=(const TemplateF& o);
    TemplateF& operator=(TemplateF&& o) noexcept;
};

// A count and an owned malloc'd array of matches. Copies are deep; a moved-from object is empty.
struct QURO_API MatchRes {
    int count;
    Match* matches;

    MatchRes();
    ~MatchRes();
    MatchRes(const MatchRes& o);
    MatchRes(MatchRes&& o) noexcept;
    MatchRes& operator=(const MatchRes& o);
    MatchRes& operator=(MatchRes&& o) noexcept;
};

// Per-point agreement of one match with the image: origin of the contour's bounding box,
// sub-pixel match position, `count` contour points and one score per point (both malloc'd and
// owned), and a copy of the match. The constructor leaves `match` uninitialised.
struct QURO_API MatchDetails {
    int min_x;
    int min_y;
    float x;
    float y;
    int count;
    Feature* points;
    float* scores;
    Match match;

    MatchDetails();
    ~MatchDetails();
    MatchDetails(const MatchDetails& o);
    MatchDetails(MatchDetails&& o) noexcept;
    MatchDetails& operator=(const MatchDetails& o);
    MatchDetails& operator=(MatchDetails&& o) noexcept;
};

// One match's deformation field: top-left corner (x, y) of the field rectangle, its size, and two
// owned maps of width * height floats, row after row: for each rectangle pixel the column
// (map_x) and row (map_y) where that model pixel lies in the image.
struct QURO_API VectorField {
    int x;
    int y;
    int width;
    int height;
    float* map_x;
    float* map_y;

    VectorField();
    ~VectorField();
    VectorField(const VectorField& o);
    VectorField(VectorField&& o) noexcept;
    VectorField& operator=(const VectorField& o);
    VectorField& operator=(VectorField&& o) noexcept;
};

// One sub-pixel edge point: position (x = column, y = row) and the unit normal (nx, ny) of the
// edge, pointing along the gradient from dark to bright.
struct QURO_API EdgePoint {
    float x;
    float y;
    float nx;
    float ny;
};

// One sub-pixel contour: point count, diameter of the convex hull of its points, and an owned
// malloc'd point array. Copies are deep; a moved-from object is empty.
struct QURO_API Contour {
    int count;
    double diameter;
    EdgePoint* points;

    Contour();
    ~Contour();
    Contour(const Contour& o);
    Contour(Contour&& o) noexcept;
    Contour& operator=(const Contour& o);
    Contour& operator=(Contour&& o) noexcept;
};

// A measure handle or rotated rectangle. With phi = angle + 90 degrees the profile axis runs in
// the direction (sin phi, cos phi) in (x, y): angle 0 measures along +x.
struct QURO_API RRect {
    float cx;           // centre column
    float cy;           // centre row
    float angle;        // degrees
    float half_length;  // along the profile
    float half_width;   // across it
};

// Contrast parameters passed to every creation function and kept in the model.
struct QURO_API ContrastParams {
    int contrast_low;        // low hysteresis threshold of the edge detector
    int contrast_high;       // high hysteresis threshold
    int min_component_size;  // minimum length of an edge chain
    int min_contrast;        // minimum gradient magnitude used by the search
};

// A class without state, kept for callers that instantiate it.
class QURO_API Cquro {
public:
    Cquro() = default;
    Cquro(const Cquro&) = default;
    Cquro& operator=(const Cquro&) = default;
    Cquro& operator=(Cquro&&) = default;
};

}  // namespace quro

using quro::ContrastParams;
using quro::EdgePoint;

// An exported int, 0 at load; the library itself never reads or writes it.
extern "C" QURO_API int nquro;

extern "C" {

// Returns 0. Does nothing else.
QURO_API int fnquro(void);

// Frees the block registered under `handle`, in the way its kind requires, and forgets the
// handle (which a later registration may reuse).
// Returns 0, or -1 when `handle` is 0 or below or not registered (nothing changes then).
QURO_API int clear_mems(int handle);

// Removes a model from the model table; its id becomes free for the next model.
// Returns 0, or -1 when `id` is below 0 or not in the table.
QURO_API int clear_shape_model(int id);

// Inserts a deep copy of model `id` under the lowest free id.
// Returns the new id, or -1 when `id` is not in the table.
QURO_API int copy_shape_model(int id);

// Stores two origin values with the model (kept and saved; no other effect).
// An unknown id changes nothing.
QURO_API void set_shape_model_origin(int id, float first, float second);

// Sets a model parameter: "min_contrast", "timeout" (milliseconds, below 1 means no limit) or
// "metric" (0 ignores the polarity of each point, negative the polarity of the model as a
// whole, positive uses polarity). "border_shape_models" and "num_levels" are accepted and change
// nothing. An unknown id, an unknown name or a null name changes nothing.
QURO_API void set_shape_model_param(int id, const char* name, int value);

// Reads a model parameter into *value: "min_contrast", "timeout", "metric", "num_levels" (levels
// built), "width0", "height0" (the model image's full-resolution size). For an unknown id, an
// unknown name, "border_shape_models", or a null pointer, *value is left as it was.
QURO_API void get_shape_model_param(int id, const char* name, int* value);

// Library-wide settings. "border_shape_models": 0 (default) keeps only matches whose model stays
// inside the image; above 0, matches may cross the image border. "print_time": timing output on
// (value != 0, default) or off. Other names, and a null name, are ignored.
QURO_API void set_system(const char* name, int value);

// Moves a point given in the model's frame (dx columns right, dy rows UP) into the image by the
// pose of match *m (position and angle; scales are not applied):
//   *x = m->x + m->dx + cos(a) dx - sin(a) dy,  *y = m->y + m->dy - sin(a) dx - cos(a) dy.
// Does nothing when m, x or y is null.
QURO_API void set_match_result_offset(const quro::Match* m, float dx, float dy, float* x, float* y);

// Flips the edge direction of every model point (on every level) that lies in a selected
// quadrant: bit 1 x>0,y>0; bit 2 x<0,y>0; bit 4 x<0,y<0; bit 8 x>0,y<0. Points on an axis are
// never changed. Returns 0 (also for an unknown id).
QURO_API int invert_model_feature(int id, int quadrants);

// Removes model points around level-1 point `index` on every level (the position halves per
// level): with radius <= 0 the single nearest point of each non-empty level, otherwise every
// point closer than radius * 0.5^(level-1). Nothing happens for an unknown id, an index out of
// range or a point without direction. Returns 0.
QURO_API int remove_model_feature(int id, int index, float radius);

// ---- Model outlines ----------------------------------------------------------------------------
// A model level posed at an angle (degrees) and a scale: each stored point (x, y) becomes
//   X = c*(sc*x) + s*(sr*y),  Y = c*(sr*y) - s*(sc*x)     (c = cos angle, s = sin angle,
// sr the row scale, sc the column scale; both equal the scale in the uniform variants), and its
// direction (gx, gy) becomes (c*gx + s*gy, c*gy - s*gx), unscaled. Under separate row and column
// scales a circle model's directions follow the normal of the scaled ellipse instead, keeping the
// side (inward or outward) the stored directions point to. TemplateI positions are rounded half
// away from zero (tag 0); TemplateF positions are exact. The box is that of the rounded positions,
// relative to the reference point, 0, 0, 0, 0 for a level without points; level_width and
// level_height are the level's image size.

// Level 1 at a uniform scale, integer positions, returned by value (handle -1; the object owns
// and frees its points). An unknown id, a non-finite angle or scale, a pose that puts a point at
// or beyond +-2^30 (a huge scale), or a failed allocation gives an empty outline (count 0,
// points null).
QURO_API quro::TemplateI get_model_transform(int id, float angle, float scale);
// As get_model_transform, with float positions.
QURO_API quro::TemplateF get_model_transform2(int id, float angle, float scale);
// As get_model_transform, with row and column scales.
QURO_API quro::TemplateI get_model_transform_s(int id, float angle, float scale_row,
                                               float scale_col);
// As get_model_transform_s, with float positions.
QURO_API quro::TemplateF get_model_transform2_s(int id, float angle, float scale_row,
                                                float scale_col);

// Level 1 at a uniform scale, integer positions, as an outline object registered under a handle.
// Requires out != null. On success sets *out, returns the handle (>= 1) and the object's `handle`
// field holds it; an outline without points is registered too, with count 0 and `handle` -1.
// Free it with clear_mems(returned handle), never yourself. Returns -1, with *out untouched and
// nothing registered, for a null out, an unknown id, a non-finite angle or scale, a pose that puts
// a point at or beyond +-2^30 (a huge scale), or a failed allocation.
QURO_API int get_model_contour(int id, float angle, float scale, quro::TemplateI** out);
// As get_model_contour, with float positions.
QURO_API int get_model_contour2(int id, float angle, float scale, quro::TemplateF** out);
// As get_model_contour2 on pyramid level `level` (1 = full resolution); returns -1 as well when
// level is outside 1..num_levels.
QURO_API int get_model_contour3(int id, int level, float angle, float scale,
                                quro::TemplateF** out);
// As get_model_contour, with row and column scales.
QURO_API int get_model_contour_s(int id, float angle, float scale_row, float scale_col,
                                 quro::TemplateI** out);
// As get_model_contour_s, with float positions.
QURO_API int get_model_contour2_s(int id, float angle, float scale_row, float scale_col,
                                  quro::TemplateF** out);
// As get_model_contour2_s on pyramid level `level`; returns -1 as well when level is outside
// 1..num_levels.
QURO_API int get_model_contour3_s(int id, int level, float angle, float scale_row,
                                  float scale_col, quro::TemplateF** out);

// Debug console. On this platform the library writes to the process's own standard output and
// error: open_console() marks the console open and, on a terminal, sets the title
// "Debug Output"; clear_console() clears a terminal; close_console() flushes and marks it
// closed. write_line() does nothing. All four return 0 and never close or redirect descriptors.
QURO_API int open_console(void);
QURO_API int close_console(void);
QURO_API int clear_console(void);
QURO_API int write_line(void);

// Model files and model memory buffers. Both hold the same bytes: the model's fields in order,
// little-endian, without header (a model with L levels and N points in all takes
// 161 + 40 L + 16 N bytes). Every field is stored and loaded as it is, including the angle range
// that the last rigid or multi-model search wrote into the model. A loaded model must be one that
// creation could have made (and edits kept): 1 to 10 levels with an entry for each level in every
// per-level list, every float finite, level sizes that at most halve from level to level (plus 2),
// points within the level's width + height + 2 of the reference point (and below 2^30), direction
// components within 1e15, boxes that hold the points, and radii at least the farthest point's
// distance (up to one pixel and 0.1 % of the points' reach r, the farthest any level's points lie,
// halved per level). Sizes, boxes and radii are tied to the points: boxes and radii within 2 r,
// level sizes at most 32 (2 r + 2), or 65536 pixels halved per level above the first. A file
// claiming a level of 2^31 - 1 pixels, or a box edge of 2^24, about points spanning 100 pixels is
// refused; no search sizes its work by the level sizes (only by the points), so a legitimate model
// of a small part made from a large image searches as fast as one made from a tight crop. Damaged, hostile or truncated data is refused without allocating more than a
// small multiple of its size.

// Writes model `id` to the file `path` (a byte string, passed on as it is), replacing an
// existing file. The bytes are prepared before the file is opened, so a failure before opening
// (unknown id, no memory) leaves an existing file untouched; a failed write, flush or close
// returns -1 and may leave a partial file.
// Returns 0, or -1 when `path` is null, `id` is not in the table, or the file cannot be written.
QURO_API int write_shape_model(int id, const char* path);

// Reads a model file and inserts the model under the lowest free id.
// Returns 0 with *id = the new id; -1 with *id = -1 when `path` is null, the file cannot be
// opened or read, is not a regular file (a directory, device or pipe: refused at once, without
// waiting for data or a writer), or its content is truncated, damaged or inconsistent.
// A failed read inserts nothing. A null `id` returns -1 and does nothing.
QURO_API int read_shape_model(const char* path, int* id);

// Writes model `id` into a new memory block: *buffer = the block, *length = its size in bytes.
// The block is registered (kind 0, count = length) and must be freed with clear_mems(handle).
// Returns the handle (>= 1); -1 when `buffer` or `length` is null (nothing written), `id` is not
// in the table or memory runs out, with *buffer = null and *length = 0 (nothing registered).
QURO_API int write_shape_model_b(int id, void** buffer, int* length);

// Reads a model from `length` bytes at `buffer` (the bytes of a model file) and inserts it under
// the lowest free id. The caller keeps the buffer.
// Returns the new id, also written to *id; -1 with *id = -1 when `buffer` is null, `length` is
// below 1, or the bytes are truncated, damaged or inconsistent (nothing inserted). A null `id`
// returns -1 and does nothing.
QURO_API int read_shape_model_b(const void* buffer, int length, int* id);

}  // extern "C"

// ================================================================================================
// Sub-pixel edges and contours
// ================================================================================================

extern "C" {

// Filter-based sub-pixel edge points of an 8-bit image: Gaussian smoothing (blur_size x
// blur_size, an even size >= 2 acts as blur_size + 1, below 1 none), 3x3 Sobel gradient scaled by
// 0.25, and a quadratic fit of the gradient magnitude around every pixel whose magnitude exceeds
// `low` (and whose mask byte is non-zero when `mask` is not null; the mask has the image's size).
// Pixels above `high` start chains, which are followed through the candidates; a chain is kept
// when the diameter of its points exceeds min_length - 1. Chains are taken longest first; each is
// thinned to the starts of windows of `window` points that stay within 0.2 pixel of a line (a
// chain shorter than `window` gives nothing; window <= 1 keeps every point), and a point is
// written only if no earlier point rounds to the same pixel.
// Each EdgePoint is (x = column, y = row, nx, ny) with (nx, ny) the unit normal pointing from dark
// to bright. Points are appended to *out, which belongs to the caller.
// Returns 0 (also when nothing was found), -1 for a null image or out, width or height below 1,
// a blur_size above 2 * max(width, height) + 1 (a kernel wider than the image allows), or when
// memory ran out (the message "detlines: Out of memory" goes to stderr), -2 when more
// than 65536 pixels exceed `high`. On a negative return *out is unchanged.
QURO_API int edges_sub_pix_gray(const unsigned char* image, int width, int height, int blur_size,
                                float low, float high, int min_length, int window,
                                std::vector<EdgePoint>* out, const unsigned char* mask);

// The same detector without thinning: every kept chain is appended to *out as one list of all of
// its points in chain order, chains in the order they were grown (strongest start first); one
// pixel may appear in several chains. Candidates lie at least max(1, margin) pixels inside every
// border. `reserved` is not read. Return values and ownership as for edges_sub_pix_gray.
QURO_API int find_sub_pix_contours(const unsigned char* image, int width, int height,
                                   int blur_size, int margin, float low, float high,
                                   int min_length, int reserved,
                                   std::vector<std::vector<EdgePoint>>* out,
                                   const unsigned char* mask);

// Sub-pixel gradient peak at pixel (x, y): the magnitude of the 3x3 Sobel gradient (scaled by
// 0.25) is fitted by a quadratic surface over the 3x3 pixels around (x, y); where that surface
// has a ridge whose peak lies within half a pixel of (x, y), the peak is the edge position.
// Requires 2 <= x < width - 2 and 2 <= y < height - 2, and the magnitude at (x, y) to exceed
// `threshold`. On success writes out[0..3] = {x, y, nx, ny} (the sub-pixel position and the unit
// normal pointing from dark to bright, the layout of EdgePoint) and returns true. Returns false,
// leaving out untouched, when no peak is found, for a null image or out, or a width or height
// below 1. Safe to call from several threads at once.
QURO_API bool get_subpix_pos(const unsigned char* image, int width, int height, int x, int y,
                             float threshold, float* out);

// Chain edge detector, in double precision. The image (width x height bytes, rows one after
// another) is smoothed by a Gaussian of standard deviation `sigma` (0: no smoothing; borders
// mirrored), its 3x3 gradient (weights 0.5 and 0.25, i.e. the Sobel sums / 4) is taken where the
// mask byte is non-zero (null mask: everywhere; the mask has the image's size) and is 0 elsewhere
// and on the one-pixel border. Maxima of the gradient magnitude |G| along the horizontal or
// vertical direction, at least two pixels inside the border, give sub-pixel edge points; each is
// linked to its nearest neighbour on either side along the edge within two pixels. Hysteresis
// keeps the chains that hold a point with |G| >= high, cut where |G| < low (both inclusive).
// Every chain has at least 2 points; a closed chain repeats its first point at its end. Each
// EdgePoint is (x = column, y = row, nx, ny) with (nx, ny) = (Gx, Gy) / |G|, the unit normal
// pointing from dark to bright. Same results with any number of threads.
// edges_sub_pix_gray_d appends to *out (which belongs to the caller) the points of every chain
// whose diameter (largest distance between two of its points) is at least min_size, chain by
// chain, each in chain order.
// Returns 0 (also when nothing was found), or -1 with *out unchanged for a null image or out,
// a width or height below 1, a width * height above INT_MAX, a negative or NaN sigma, a sigma
// whose kernel half-width ceil(3.717 sigma) exceeds max(width, height), or when memory ran out.
// Input errors also write "error: <text>\n" to stderr; the process goes on.
QURO_API int edges_sub_pix_gray_d(const unsigned char* image, int width, int height, float sigma,
                                  float low, float high, float min_size,
                                  std::vector<EdgePoint>* out, const unsigned char* mask);

// The same chains as edges_sub_pix_gray_d, one list per chain whose diameter is at least
// min_size, appended to *out in the order of each chain's first pixel met row by row. Return
// values and ownership as for edges_sub_pix_gray_d.
QURO_API int find_sub_pix_contours_d(const unsigned char* image, int width, int height,
                                     float sigma, float low, float high, float min_size,
                                     std::vector<std::vector<EdgePoint>>* out,
                                     const unsigned char* mask);

// Every chain of the detector above (no size filter), in the order of find_sub_pix_contours_d,
// as an array of quro::Contour {count, diameter of the points' convex hull, malloc'd points}.
// Requires non-null out and count. With at least one chain: stores the array in *out and the
// number of chains in *count and returns the array's handle (>= 1); the caller frees the array
// and every point array in it with clear_mems(handle) only. With no chain: returns 0, sets *count
// to 0 and leaves *out unchanged. On an error (the arguments and failures of
// edges_sub_pix_gray_d, or a null out or count): returns -1, sets *count to 0 when count is not
// null, leaves *out unchanged and registers nothing.
QURO_API int find_sub_pix_contours_c(const unsigned char* image, int width, int height,
                                     float sigma, float low, float high, quro::Contour** out,
                                     int* count, const unsigned char* mask);

}  // extern "C"

// ================================================================================================
// Shape model creation
// ================================================================================================
//
// Every creation function stores angle_start, angle_extent, angle_step (degrees), metric and the
// four contrast values in the new model as given, with a time-out of 1000 ms ("timeout", see set_shape_model_param). On success it inserts the model into the model
// table under the lowest free id, writes the id to *id and returns 0; the model belongs to the
// table until clear_shape_model(). A model that a model file could not hold (see
// read_shape_model: a non-finite angle, direction or position; an image side above 65536 pixels
// and above 32 (2 r + 2), r the farthest edge point's distance from the centre) returns -1. On any
// failure nothing is inserted and *id is left as it was.
// Building longer than the time-out (checked after every level, a level itself is never
// interrupted) returns -2.

extern "C" {

// Model from an image: `image` holds width x height bytes; `mask` is null or a buffer of the same
// size whose 0 bytes mark pixels to ignore. Neither buffer is written. Each pyramid level (level 1
// full resolution, each further level halved by a Gaussian pyramid step, mask alike) keeps the
// sub-pixel edge points of that level (the filter-based detector without smoothing, thresholds
// contrast_low and contrast_high, or 1 and 2 when contrast_low is below 1; minimum chain length
// min_component_size clamped to 1..128 on level 1 and halved per level, at least 2), relative to
// the level's centre ((cols - 1) / 2, (rows - 1) / 2), with their rotated box.
// num_levels 1..10 builds at most that many levels; 0 up to 10, stopping before a level with a
// side below 8 or both sides below 12; any other value up to 10 without that size stop. Building
// stops (without error) at the first level with fewer than 20 edge points.
// Returns 0 (see above); -1 when image, contrast or id is null, width or height is below 1, no
// level was built (fewer than 20 points at full resolution, an all-zero mask, an image below the
// size stop) or memory ran out; -2 on a time-out, or when more than 65536 pixels of a level exceed
// the high threshold.
QURO_API int create_shape_model(const unsigned char* image, int width, int height, int num_levels,
                                float angle_start, float angle_extent, float angle_step,
                                int metric, const ContrastParams* contrast,
                                const unsigned char* mask, int* id);

// ---- Rotated rectangles ------------------------------------------------------------------------
// A rectangle centred on (cx, cy) (column, row) and turned by `angle` degrees has the column
// direction u = (cos a, -sin a) and the row direction v = (sin a, cos a) in (column, row) image
// coordinates: a positive angle turns it as the searches turn a model, and at angle 0 it is an
// axis-parallel crop. Its pixels are sampled bilinearly in double precision; a sample whose four
// neighbour pixels are not all inside the image is 0; values are truncated, not rounded.
// The centre must be finite and no farther than width + height outside the image, the angle
// finite. `image` holds width x height bytes and is never written.

// Model from the rectangle of half-length len1 (along the cut-out's columns) and half-width len2
// (along its rows): the cut-out has columns (int)(-len1) .. <= len1 and rows (int)(-len2) ..
// <= len2 (len1 10, len2 5: 21 x 11 pixels), each the mean of four samples at +-0.5 u +-0.5 v.
// The model is created from the cut-out as by create_shape_model with the other arguments; its
// reference point is (cx, cy), and an instance at pose angle phi in the image is in the model at
// phi - angle. `mask` is null or a buffer of the IMAGE's size (0 marks pixels to ignore): its
// non-zero bytes become 255 and it is cut out like the image; where that cut-out is 0 (among
// others wherever the samples leave the image) the model ignores the pixel.
// Returns as create_shape_model; -1 also when image is null, width or height is below 1, the
// centre or angle is refused (see above), len1 or len2 is negative, not finite or above
// width + height, or the cut-out would hold more than INT_MAX pixels or more than
// 4 (width + 2) (height + 2) (a 30000 x 1 image does not yield a 60001 x 34001 cut-out).
QURO_API int create_shape_model_rr(const unsigned char* image, int width, int height, double cx,
                                   double cy, double angle, double len1, double len2,
                                   int num_levels, float angle_start, float angle_extent,
                                   float angle_step, int metric, const ContrastParams* contrast,
                                   const unsigned char* mask, int* id);

// Rotated image extraction: fills `out` (out_height rows of out_width bytes, owned by the caller)
// with the rectangle of that size whose middle ((out_width - 1) / 2, (out_height - 1) / 2) lies
// at (cx, cy). Output pixel (c, r) samples P = (cx, cy) + (c - (out_width - 1) / 2) u +
// (r - (out_height - 1) / 2) v with `filter`: 0 one sample at P; 1 the mean of four at
// P +- 0.5 u +- 0.5 v; 2 nine at P + i u + k v (i, k in -1, 0, 1) weighted 1-2-1 by 1-2-1, / 16.
// Angle 0, filter 0, odd output sides and an integer centre copy the crop exactly.
// Returns 0; -1, with `out` untouched, when image or out is null, a size is below 1, filter is
// not 0, 1 or 2, or the centre or angle is refused (see above).
QURO_API int get_rot_img(const unsigned char* image, int width, int height, int filter, double cx,
                         double cy, double angle, unsigned char* out, int out_width,
                         int out_height);

// ---- Models without an image -------------------------------------------------------------------
// The four functions below build a model from points given relative to its reference point, each
// with the edge direction that the search compares with image gradients. Level 1 holds those
// points; each further level keeps, in order, the points of the level below whose rounded
// position (half away from zero) is not odd in both coordinates and not taken by an earlier
// point, with halved positions. Levels are built up to 10 and building ends at the first level
// with fewer than 40 points (not kept); the num_levels argument is not read. Each level's box is
// the raw extent of its points (box angle 0), its size twice the larger extent from the reference
// point per axis. A segment contributes one point per pixel of its length, without its end points
// (one midpoint when it is shorter than 2; nothing when an end point is not finite), each directed
// along (-uy, ux) for the segment direction (ux, uy) (or along (uy, -ux) where noted).
// Common returns: 0 (see above); -1 when contrast or id (or another pointer argument) is null, no
// level was built, a length or position is not finite or too large for an int when doubled, a
// direction component is not finite or beyond 1e15 in magnitude, an angle is not finite, or
// memory ran out; -2 on a time-out.

// Generated outline with unit directions pointing into it (a = length1, b = length2):
//   b = 0, a > 0: circle of radius a, one point per 1/a radians (model kind "circle");
//   b > 0, a >= 0: rectangle of half lengths a (columns) and b (rows), one point per pixel along
//     its sides, no corner points;
//   b < 0, a <= 0: ellipse of semi-axes |a| (columns) and |b| (rows), one point per 1/|a| radians;
//   b < 0, a > |b|: cross of arm half-length a and half-width |b| (the arms' long edges only).
// Returns -4 for a < 0 < b, for b < 0 < a <= |b|, and for b = 0 > a; a = b = 0 gives -1.
QURO_API int create_shape_model_xld(float length1, float length2, int num_levels,
                                    float angle_start, float angle_extent, float angle_step,
                                    int metric, const ContrastParams* contrast, int* id);

// Generated outline of a second family (l1 = length1, l2 = length2), stored with its shape number
// as model kind: 1 circle of radius l1 (l2 not read), 2 ellipse of semi-axes l1 (columns) and l2
// (rows), 3 rectangle of half lengths l1 and l2, 4 cross of arm half-length l1 and half-width l2
// (all with directions into the shape), 5 two parallel bars (-l1, -l2)-(l1, -l2) and
// (-l1, l2)-(l1, l2), 6 to 9 corners of two segments meeting at the reference point: 6 along +x
// and -y, 7 along -x and -y, 8 along -x and +y, 9 along +x and +y. A non-zero flip negates every
// direction. Returns -3 for a shape outside 1..9, -4 for l1 <= 0 or (shapes 2..9) l2 <= 0.
QURO_API int create_shape_model_xld2(int shape, int flip, float length1, float length2,
                                     int num_levels, float angle_start, float angle_extent,
                                     float angle_step, int metric, const ContrastParams* contrast,
                                     int* id);

// Polygon of n = |count| vertices (x[i], y[i]), centred on the middle of their bounding box: the
// segment from vertex i - 1 to vertex i is used when use[i] != 0 (i = 1 .. n - 1; use[0] is not
// read). There is no closing segment: repeat the first vertex to close it. Directions are
// (-uy, ux) for each segment direction (ux, uy), or (uy, -ux) when count < 0 (for a polygon
// traced clockwise on screen, with y pointing down, (-uy, ux) points inside). Returns -4 when
// n < 2.
QURO_API int create_shape_model_pol(const float* x, const float* y, const char* use, int count,
                                    int num_levels, float angle_start, float angle_extent,
                                    float angle_step, int metric, const ContrastParams* contrast,
                                    int* id);

// Point list: `count` points (x[i], y[i]) with directions (gx[i], gy[i]) taken as given (not
// normalised), centred on the middle of their bounding box. Returns -4 when count < 2.
QURO_API int create_shape_model_xld3(const float* x, const float* y, const float* gx,
                                     const float* gy, int count, int num_levels, float angle_start,
                                     float angle_extent, float angle_step, int metric,
                                     const ContrastParams* contrast, int* id);

// ---- Automatic creation parameters -------------------------------------------------------------
// Proposes the four ContrastParams values for a model image (width x height bytes, never
// written), in doubles: out[0] contrast_low, out[1] contrast_high, out[2] min_component_size,
// out[3] min_contrast. Each level of the image's pyramid (level 1 the image, each further level a
// Gaussian halving with mirrored border) gets a statistic of its 3x3 Sobel gradient magnitude
// (x 0.25, 8 bits, saturating at 255): a threshold T, low = T * weak_factor, high = T, and a
// minimum contrast min(low, max(3, noise, spread)), where noise estimates the image noise's
// standard deviation from a second-derivative filter and spread is 1.645 times the standard
// deviation of (image - its 3x3 mean) over the pixels whose magnitude is at most low.
// out[0] is the smallest low of the levels that take part, out[1] the high of the first of them
// with that low, out[3] the smallest minimum contrast among them. out[2] = max(5, P) with
// P = 2^(L-1) for L <= 4 levels and 4 L - 8 above; when the chain detector
// (find_sub_pix_contours_c, sigma 0, level 1's low and high) finds contours, P is at most half
// the largest contour's diameter.
// Mended (the plain smallest-over-all-levels rule proposes 0 or 0.5 on a large, mostly flat image
// whose small object the top levels blur away, and on a noisy one a model that cannot be built):
// level 1 always takes part; level k > 1 only when its shorter side is at least 32 pixels, the
// largest contour's diameter divided by 2^(k-1) is at least 8 pixels (none when the detector
// finds no contour) and its low is not below the image's noise estimate (the noise above, on
// level 1). No proposed contrast (out[0], out[1], out[3]) is below that noise estimate.
// With weak_factor <= 1: out[3] <= out[0] <= out[1] and out[2] >= 5. Safe to call from several
// threads. Writes nothing when image or out is null, width or height is below 1,
// width * height exceeds INT_MAX, weak_factor is not finite, or memory runs out.

// L = floor(max(0, log2(min(width, height) / 16))) + 1 levels; T is Otsu's threshold of the
// magnitude, and the spread is rounded down.
QURO_API void auto_shape_model_params(const unsigned char* image, int width, int height,
                                      double weak_factor, double* out);

// L = floor(max(0, log2(min(width, height) / 8))) + 1 levels; the magnitude is thinned to its
// maxima along the gradient (interior pixels only) and stretched between its minimum and maximum
// to 0..255; T is the smallest thinned magnitude whose stretched value exceeds f * 255, with
// f = 0.25 for mode -1, 0.5 for mode 1 and 0.375 for any other mode. A level without such a
// pixel (a level without edges) proposes low 1, high 2, minimum contrast 1.
QURO_API void auto_shape_model_params2(const unsigned char* image, int width, int height,
                                       double weak_factor, double* out, int mode);

}  // extern "C"

// ================================================================================================
// Shape model search
// ================================================================================================
//
// Common to every search:
// - `data` is the image (width x height bytes, read in place, never written).
// - The model is searched for at angles angle_start .. angle_start + angle_extent (degrees;
//   angle_extent >= 0). The level refinement brings a match's angle into that window (expressed
//   from angle_start upwards, e.g. 365 for 5 degrees in a window starting at 350); a sub-pixel
//   step may move it out by up to one angle step of the level the match is reported from (least
//   squares; a match it would carry further out keeps its pose from before the refinement,
//   position and angle together) or two (peak fit). A window of a full turn or more
//   (angle_extent >= 360) has no ends: every angle is handed out in [angle_start, angle_start +
//   360).
// - min_score (>= 0) is the lowest score of a match (1 = every model point agrees with the image);
//   num_matches limits the number returned (0 or below: no limit), best first; max_overlap (>= 0)
//   is how far two matches' rotated model boxes may overlap (fraction of the smaller box).
// - subpixel_code: units digit 0 no sub-pixel step; 1 peak fit of the scores; 2, 4, 5 least
//   squares on the image edges on the last level searched (2, 3, 4 iterations); 3 least squares
//   (2 iterations) on the last level searched and on every level below it down to full
//   resolution, while the matches are scaled back; a search that would end at full resolution then stops one level above it when it
//   uses three levels or more (over one or two levels it gets no sub-pixel step); 6..9 act as 5;
//   a negative code gives none. A search whose first and last level are the same scores that
//   level exhaustively and selects from it directly: no level refinement and no sub-pixel step,
//   except mode 3 when that level lies above full resolution.
//   Tens digit: cell value (min(code / 10, 32) at full resolution, halved per level, at least 1
//   above full resolution). On a level whose cell value is above 1 the level refinement and the
//   peak fit let groups of model points settle separately (tolerates local deformation). The
//   least squares weigh every edge fully on a level whose cell value is 1 or more (every level
//   above full resolution, and full resolution with a tens digit of 1 or more), and with robust
//   weights that discount outlying edges otherwise.
// - levels: {first, last} pyramid levels counted from 1 (full resolution). first outside
//   1..levels built means all levels (first = the number of levels built); last outside 1..first
//   (with that first) means full resolution. Null means {0, 0}.
// - greediness has no effect on the rigid search.
// - The model's "timeout" (milliseconds, below 1: none), "metric" and "min_contrast" parameters
//   apply; set_system("border_shape_models", n > 0) lets matches cross the image border.
// - Time-out: the search asks its time-out as it goes, also inside every stage that can run for
//   milliseconds on a large image (the pyramid level by level; the normal maps, direction codes
//   and response maps by bands of 16 rows; the score sums every 16 model points; the level
//   refinement, the peak fit and the least squares candidate by candidate; the clustering and
//   the selection every 64 groups or candidates), and returns -2 once it has passed. The return
//   then follows the limit by the rest of one such piece of work (well below a millisecond of one
//   core) plus the wait for the search's threads (the caller's and its workers) to get a core to
//   notice the limit and finish their pieces: on an idle machine about a millisecond, on one
//   with more runnable threads than cores as long as the system leaves those threads waiting
//   (several to tens of milliseconds). The working maps of a search that gives up are freed on a
//   background thread, as after a completed search.
// - Returns the result-registry handle (>= 1) of a malloc'd array of `count` matches, best first,
//   written to `results`; free it with clear_mems(handle). Returns 0 when nothing is found
//   (`results` is left as it was, count 0), -1 for a bad argument (null data, width or height
//   below 1, min_score or max_overlap negative or NaN, a negative or non-finite angle range or
//   one wider than 3600 degrees), an unknown model id, a model without levels or failed memory,
//   -2 on a time-out (nothing is registered). count is 0 on every failure.
// - Position of a match: (x + dx, y + dy), the model's reference point (the model image's centre
//   for models made from images) in image pixels, whatever level the search stops on; angle in
//   degrees, counter-clockwise on screen.
// - A search must not run on one model from two threads at once (the scaled search excepted), nor
//   while the model is cleared.
//   write_shape_model, write_shape_model_b and copy_shape_model may run on other threads during a
//   search of the same model: they see its angle range either before or after the search wrote it.
// - Deliberate departures from the plain coarse-to-fine rules, each mending a wrong result:
//   * The coarse levels keep candidates down to a fraction of min_score (0.55 on the top level,
//     0.9 between it and full resolution) for every metric, and each level measures every
//     candidate that passed the level above before judging it by its own threshold: a match that
//     full resolution accepts is not dropped on a coarse level, also for finely textured models
//     and partly covered instances.
//   * With a negative metric the level below the top tries both polarities for each candidate:
//     the top level cannot tell the contrast of strokes thinner than one of its pixels.
//   * max_overlap acts in the final selection only; the top level's box suppression, which
//     compares axis-parallel boxes on the coarsest level, uses 0.7 whatever max_overlap (also 1),
//     so it cannot remove the better of two overlapping instances before either is measured, nor
//     let max_overlap change which hypotheses reach the lower levels: a match of the search with
//     max_overlap 1 that overlaps no better match by more than m comes back from the search with
//     max_overlap m at the same pose and score.
//   * The overlap of two rotated boxes is the area of one clipped by the other, in double
//     precision, over the smaller box's area: boxes nested inside each other and sharing an edge
//     overlap fully (the rotated-rectangle intersection used before gave 0.5 or 1 depending on
//     the order, so two matches at one place with different column scales both stayed).
//   * The scale refinement tries a range end itself when its next step would leave the range:
//     the scaled search's walk on every level, the anisotropic search's trials on its last level
//     (the deformable search keeps its anisotropic levels' trials inside the ranges: trying the
//     ends there moved bent parts, max error 0.415 -> 0.441 px). Instances at exactly a range end
//     came back 0.01-0.02 inside it, scoring 0.83-0.93 instead of 0.99, and which hypothesis
//     reached full resolution decided how far, so that a higher min_score could miss them or find
//     them better. In the scaled walk an end that scores no higher than the walk's best sample is
//     dropped and the walk goes on as if the range had stopped the step: as a sample closer than
//     a step it pulled the parabola's vertex towards the best sample (0.854 came back from the
//     coarse levels as 0.845). On a level whose scale step spans the whole range (0.18 on the
//     fourth level for 0.95-1.05) the walk steps by half the range, so that it can leave the
//     range end the level above gave (it tried the two ends alone, and a part at scale 1 from
//     last level 4 came back up to 8 px off).
//   * Sub-pixel mode 1 of the scaled and anisotropic searches also fits the scales: after the
//     peak fit, each scale is scored along a profile (an eighth of the level's scale step apart,
//     at the fitted angle and sub-pixel position, the normal maps read bilinearly) and set to the
//     midpoint of the profile's crossings of 0.95 of its peak, within the range. The last level's
//     walk measured the scale at the level above's angle and at whole pixels, and the peak fit
//     kept it: 0.0039 RMS on photo scenes (0.001 now; least squares 0.0006). Score, position and
//     angle are not changed.
//   * On a last level above full resolution, sub-pixel mode 1 moves the peak fit's position on to
//     the centre of the model's score along x and along y (points posed without rounding, normal
//     maps read bilinearly, crossings of 0.7 of the peak), and the anisotropic search's least
//     squares take both scales from the scale profiles above and hold them: from last level 4 of
//     a model 224 x 168 the whole-pixel windows left every instance up to 1.9 px off the same way
//     (1.5 px now), and the least squares ran the scales, which that level hardly tells apart, to
//     the range ends (0.95 px off, 0.31 now). Full resolution is unchanged.
//   * One least-squares step may rotate a match by up to one angle step of its level (beyond the
//     fixed bound of the pose solve), since a level's angle sampling leaves that much to correct.
//   * With metric 0 the least squares accept image edges of either contrast, like the rest of
//     the search for such a model.
//   * Boxes of models whose points lie on one straight line count one pixel thick in the overlap
//     test (a zero-area box would overlap nothing, or everything).
//   * Candidate clustering treats pixels as neighbours only within a row and the rows next to it:
//     the last pixel of a row is no neighbour of the first of the next.
//   * A match found on a level above full resolution is reported at the model's reference point:
//     each level of a model made from an image is centred on that level's own image centre, which
//     lies up to (2^k - 1) / 2 pixels off the full-resolution centre scaled down from level k, so
//     the position scaled up is moved by that offset, posed at the match's angle and scales (in dx
//     and dy). Mode 3 moves the matches the same way from level to level.
//   * A window of a full turn or more hands angles out wrapped into [angle_start, angle_start +
//     360): a match near the window's start may otherwise come out just below it or a turn above.
//   * The scaled, anisotropic and deformable searches whose smallest scale (of either axis) is
//     below 1 keep candidates down to 0.8 of min_score (not 0.9) on the levels between the top and
//     full resolution: smaller instances score lower on coarse levels.
//   * A single-level anisotropic search (first and last level the same) selects its matches with
//     each match's row and column scales, as its last level does in a search of several levels.
//   * The time-out is also asked inside the long stages and during the sub-pixel step after the
//     final selection (a search whose time runs out there returns -2, not its matches), and a
//     search that gives up hands its normal maps to the background release rather than freeing
//     them on the caller's thread (tens of megabytes at 2048 x 2048 take milliseconds to free).
//   * Models whose coarse levels look alike at many angles (a disc with a fine rim, a gear whose
//     teeth the top level cannot resolve, a mark too small for it) are measured once per model
//     (on first use, not stored in files): each level's points turned against themselves. When a
//     quarter or more of the top level's angles look alike, the levels above the first one where
//     fewer than half do keep one candidate per place (their angles tell nothing), that level
//     walks from every second angle of its list over the search range, and each level below it
//     also walks from two angle steps either side (neighbouring rim teeth score nearly alike).
//     Other models search as before. The multi-model search does the same for each of its models
//     (it lost such instances, or found them at a wrong angle, where the rigid search did not).
//   * Models whose coarse levels look alike a few pixels off (lines of text a line apart) are
//     measured the same way under shifts (on first use, per level): where a level's points moved
//     by a shift t of 2 to 8 of its pixels score at least 0.7 of themselves unmoved (a local
//     maximum), the level below also refines each candidate from t and -t posed at its angle,
//     beyond the +-4 pixel window of that level. A covered text page was found a line off (its
//     top-level peak lay one line away, and the next level cannot reach back), or not at all.
//     A copy that settles on the place of a candidate found without it is dropped.
//   * For such models and those whose angles are re-seeded, a last level at full resolution
//     that samples fewer than 100 of its points (every 2^(levels - 1)-th point, 54 for a 160 x
//     110 text page) scores each refined candidate anew at its pose with that step halved until
//     it samples 100 or more (or every point), before the min_score test and the final selection: the
//     alike poses reaching it differ by a few hundredths, which 54 points cannot tell (a page a
//     line off outscored the true one, a true page scoring 0.57 over all points scored 0.45 and
//     was dropped). The walks still choose position and angle on the coarser sampling; other
//     models and last levels above full resolution score as before.

extern "C" {

// Finds model `model_id` under rotation. Writes angle_start and angle_extent into the stored model
// (a later write_shape_model saves them) once the arguments are accepted; a call refused for its
// arguments leaves the stored model as it was.
QURO_API int find_shape_model(unsigned char* data, int width, int height, int model_id,
                              float angle_start, float angle_extent, float min_score,
                              int num_matches, float max_overlap, int subpixel_code, int* levels,
                              float greediness, quro::Match*& results, int& count);

// As find_shape_model, with a mask: `mask` is null (no mask) or width x height bytes laid out like
// the image (its size cannot be checked). Where the mask is 0 the image counts as having no edge
// during the level refinement and the peak fit on the two finest pyramid levels (full resolution
// and half resolution; at half resolution only pixels whose halved mask is exactly 0). A mask
// without any 0 byte is the same as no mask. The coarse levels and the least-squares refinement
// do not see the mask, so with a last level above 2, or when first and last level are the same,
// it changes nothing.
QURO_API int find_shape_model_2(unsigned char* data, int width, int height, int model_id,
                                float angle_start, float angle_extent, float min_score,
                                int num_matches, float max_overlap, int subpixel_code, int* levels,
                                float greediness, unsigned char* mask, quro::Match*& results,
                                int& count);

// Finds model `model_id` under rotation and one uniform change of size: scale_min <= s <=
// scale_max (both finite, scale_min > 0, scale_min at most scale_max + 1e-6; equal bounds search
// one fixed size). Everything else as find_shape_model, except that the stored model is never
// written (the ranges go into a private copy of it), so two scaled searches of one model may run
// at once on different threads; the model must still not be cleared during a search.
// Each match carries its scale in scale_row and the same value in scale_col. The level
// refinement walks the scale on every level below the top (also for equal bounds), trying a range
// end itself where a step would pass it, so instances at a range end are found at it; the least
// squares modes (2-5) then refine the scale with position and angle from the edges' sub-pixel
// positions, keeping it inside the range; the other modes keep the walk's scale. Scales are sampled on the top level
// with a step that doubles per pyramid level (the model's stored uniform scale step, or one that
// moves the model's outermost point by about two pixels of the level; a stored step is taken no
// finer than an eighth of that one, the row and column steps of the anisotropic searches alike). With scale_min below 1 the
// levels between the top and full resolution keep candidates down to 0.8 of min_score (not 0.9).
// Returns as find_shape_model: the handle (>= 1, free with clear_mems), 0 when nothing is found,
// -1 for a bad argument (those of find_shape_model, a bad scale range as above, or a range so
// wide that the top level's scale and angle poses would exceed 2^24), an unknown model id, a
// model without levels or failed memory (results null), -2 on a time-out. count is 0 on every
// failure; nothing is registered then.
QURO_API int find_scaled_shape_model(unsigned char* data, int width, int height, int model_id,
                                     float angle_start, float angle_extent, float scale_min,
                                     float scale_max, float min_score, int num_matches,
                                     float max_overlap, int subpixel_code, int* levels,
                                     float greediness, quro::Match*& results, int& count);

// As find_scaled_shape_model, with a mask that acts as in find_shape_model_2 (null: no mask; a
// mask without any 0 byte gives the same matches as no mask).
QURO_API int find_scaled_shape_model_2(unsigned char* data, int width, int height, int model_id,
                                       float angle_start, float angle_extent, float scale_min,
                                       float scale_max, float min_score, int num_matches,
                                       float max_overlap, int subpixel_code, int* levels,
                                       float greediness, unsigned char* mask,
                                       quro::Match*& results, int& count);

// Finds model `model_id` under rotation and separate changes of size along its rows and its
// columns: scale_row_min <= sr <= scale_row_max and scale_col_min <= sc <= scale_col_max, each
// range as the scale range of find_scaled_shape_model (finite, minimum > 0, minimum at most
// maximum + 1e-6). A model point (x, y) lies at (x * sc, y * sr) before the rotation. The stored
// model is never written. Each match carries the row scale in scale_row and the column scale in
// scale_col as found (the two are refined independently, so equal ranges may give unequal
// scales); on the last level a scale trial beyond a range end tries the end itself; the least
// squares modes refine both scales with position and angle, each inside its range. The top level
// scans every row scale times every column scale times every angle, so wide ranges on both axes
// multiply its cost. The levels between the top and full resolution keep candidates down to 0.8
// of min_score (not 0.9) when either minimum is below 1; a single-level search (first and last
// level the same) selects its matches with their row and column scales.
// Returns as find_scaled_shape_model; a pair of ranges whose top-level poses would exceed
// 2^24 gives -1.
QURO_API int find_aniso_shape_model(unsigned char* data, int width, int height, int model_id,
                                    float angle_start, float angle_extent, float scale_row_min,
                                    float scale_row_max, float scale_col_min, float scale_col_max,
                                    float min_score, int num_matches, float max_overlap,
                                    int subpixel_code, int* levels, float greediness,
                                    quro::Match*& results, int& count);

// As find_aniso_shape_model, with a mask that acts as in find_shape_model_2 (null: no mask; a
// mask without any 0 byte gives the same matches as no mask).
QURO_API int find_aniso_shape_model_2(unsigned char* data, int width, int height, int model_id,
                                      float angle_start, float angle_extent, float scale_row_min,
                                      float scale_row_max, float scale_col_min,
                                      float scale_col_max, float min_score, int num_matches,
                                      float max_overlap, int subpixel_code, int* levels,
                                      float greediness, unsigned char* mask,
                                      quro::Match*& results, int& count);

// Finds model `model_id` bent locally, beside rotation and separate row and column scales. The
// arguments up to `count` mean what they mean for find_aniso_shape_model (a minimum scale below 1
// also lowers the middle levels' threshold to 0.8 of min_score). Of the H levels searched
// (the levels pair as there), the upper H - (H - 1) / 2 run the anisotropic search; on each level
// below them every candidate is first refined rigidly and the best rigid pose of each place kept,
// then every model point may move by a few pixels, supported by its nearest neighbours, and the
// moves become one dense deformation field per match. Sub-pixel modes 2, 4 and 5 refine the matches by least squares on the deformed model;
// modes 1 and 3 add no sub-pixel step (mode 3 stops one level above full resolution as elsewhere).
// The stored model is never written. Each match keeps scale_row and scale_col as found; positions
// are full-resolution pixels of the model's reference point, also when the last level searched
// is above full resolution.
// - A match's pose (x + dx, y + dy, angle, scale_row, scale_col) is the rigid pose that best
//   explains the found model points, moved by the shift its field would hold on average over the
//   field's rectangle when the field raises the agreement by more than 0.01; the field holds the
//   deformation beyond that pose (none on an undeformed part). The model's reference point of a
//   bent part lies where the field moves it.
// - score: the mean agreement of the model points moved by the field (the rigid search's measure
//   at the deformed points, so a field cannot raise a score by letting each point pick its own
//   best place in noise), less 0.03 times the field's energy (the mean over the points of their
//   squared displacement, in full-resolution pixels: a part bent by 3 pixels pays about 0.07),
//   but never below the rigid score at the match's pose. A field fitted to noise still finds
//   agreement there; the energy is what it pays for it.
// - A field must earn its place: where a rigid pose scores at least as high without the field
//   (the pose the refinement's fits moved to, or the one the level's rigid refinement gave), the
//   match keeps the better of those poses, its score and a field of no deformation (map =
//   position). On undeformed parts in noise (sigma 3) the fields moved edge points by 0.28 px RMS
//   and the poses were 0.031 px and 0.037 deg off; with the rule 0.25 px, 0.013 px and 0.024 deg.
//   The fits moved small round models off their angle (0.91 -> 0.66 for a coin at full
//   resolution) where the level's rigid pose was right.
// fields: one quro::VectorField per match, in the order of `results`. x, y, width, height give the
// field rectangle in the image of the last level searched (full resolution unless the levels pair
// or mode 3 stop higher; a match at full-resolution x lies near x / 2^level there). The rectangle
// covers the model's points posed at the match plus 4 pixels on each side: it is sized by the
// points, not by the image the model was created from. A model point that the match's pose puts at
// (X, Y) of that image lies at (X - x, Y - y) in the rectangle, and map_x, map_y sampled there
// (bilinearly) give the rectangle position (column, row) where that model point was found. With a
// single searched level there is no deformation: every element is empty (width and height 0, null
// maps).
// - Deliberate departures from the plain deformable rules, each measured on the bend and noisy
//   coin sets of bench_search_compare:
//   * Each deformable level refines every candidate rigidly (position, angle, both scales) before
//     the deformable refinement: from the level above's pose alone small round models kept wrong
//     angles (noisy coins: recall 27% -> 42%) and bent parts were reported 1.0 px RMS off.
//   * The last anisotropic level clusters its candidates as a level above the last does (several
//     angles per place), and each deformable level spreads their angles as the anisotropic
//     search's own level would (re-seeded on the level that first tells the model's angles apart,
//     turned copies below it; see the departures of find_shape_model), refines them rigidly and
//     keeps the best rigid pose of each place (overlap limit 0.7, no score limit) before the
//     deformable refinement. Selected on the last anisotropic level by its score, whose coarse
//     points of small round models look alike at many angles, one wrong angle per place went on
//     and the right one was lost: noisy coins recall 35% -> 80%, matches at a wrong angle 39 ->
//     12 (the rigid and anisotropic searches: 73%, 16).
//   * A kept field's score pays for its energy (see score above): on the noisy coins the best
//     match in noise scored 0.48 (rigid and anisotropic searches: 0.40, 0.41) and 0.43 with it;
//     with one deformable level on the fifth level of the part (levels {0, 4}) fields moving
//     points by 2 pixels of that level (16 of full resolution) turned clutter scoring 0.34-0.57
//     rigidly into matches of 0.56-0.86 away from every part, which the anisotropic search does
//     not report (7 in 20 scenes of the bend set; none with the cost).
//   * From one deformable level to the next, a candidate's exact position and the field's seed
//     move by the level's centre shift (as a match found above full resolution is reported, see
//     the departures of find_shape_model): the rigid refinement searches about that position and
//     keeps it inside the whole pixel it settles on, and each point's seed is read where the level
//     above held the same model point.
//   * After every pass a robust pose fit takes the part of the moves a pose explains, so the field
//     keeps only the deformation (without it straight parts were 0.44 px and 0.22 deg off, not
//     0.025 px and 0.04 deg). Where the few points of a coarse level hold no scale change within
//     bounds, the fit takes the position and angle alone: matches reported from level 4 kept
//     their whole-pixel positions there and were 1.3-1.9 px off the reference point (0.1-0.25 px
//     with the fallback).
//   * A point moves by its window's sub-pixel peak when the window has one; otherwise only across
//     its edge, by the sub-pixel peak of the window along its normal (a window cannot see a move
//     along a straight edge, and whole-pixel moves there left straight parts 0.06 px and 0.1 deg
//     off).
//   * The field is a cubic spline (6 knot intervals across the rectangle's shorter side) fitted to
//     the points' moves across their edges, each point with its full weight, under a curvature
//     and a small size penalty, instead of a relaxed membrane: a membrane sags between two edges
//     that bend alike and stays flat beyond the last points (bend 3 px at 100 px: field error
//     1.15 px with the membrane, 0.92 px with the spline), and the size penalty keeps undeformed
//     parts still (fields 0.053 px, positions 0.013 px off; 0.094 px and 0.063 px without it).
//   * The mean shift over its rectangle of a field that raises the score by more than 0.01 goes
//     into the match's position: the pose fits leave a shift in the moves wherever a part's edges
//     lie unevenly about its bend (bent parts: reference point 0.44 px RMS off with the shift in
//     the field, 0.16 px without); below that gain the shift is noise (noisy coins: 0.11 px
//     instead of 0.07 px when every field gave its shift).
//   * The field's grid cells lie on the pixels they stand for (every 4th pixel, the last row and
//     column included).
// Returns the handle of the match array (>= 1, free with clear_mems), 0 when nothing is found, -1
// for a bad argument, unknown id, model without levels or failed memory for the matches (results
// null), -2 on a time-out. fields_handle is the handle of the field array (free it with clear_mems;
// freeing either handle leaves the other block valid) when matches are handed out, -1 (fields
// null) when that array could not be allocated; it is 0 and fields null in every other case,
// whatever they held on entry. count is 0 on every failure; nothing is registered then.
QURO_API int find_local_deformable_model(unsigned char* data, int width, int height, int model_id,
                                         float angle_start, float angle_extent,
                                         float scale_row_min, float scale_row_max,
                                         float scale_col_min, float scale_col_max, float min_score,
                                         int num_matches, float max_overlap, int subpixel_code,
                                         int* levels, float greediness, quro::Match*& results,
                                         int& count, quro::VectorField*& fields,
                                         int& fields_handle);

// Finds several models under rotation in one pass. `ids` holds num_ids model ids; `levels` holds
// two ints per id, {first, last} for ids[i] at levels[2i], levels[2i + 1]. first is the model's
// top level as in find_shape_model; last names the level ABOVE the last one searched: {4, 3}
// searches levels 4, 3 and 2 and reports from level 2; a last of 1 or 2, or one outside 1..first,
// reaches full resolution. The search as a whole ends at the finest last level of all models, and
// every candidate is refined down to it. An id given twice is one model, searched with the pair of
// its last occurrence. angle_start, angle_extent, min_score, num_matches, max_overlap,
// subpixel_code and greediness act as in find_shape_model, for every model alike, except: the
// coarsest level always scores with contrast polarity (a model of metric 0 still sums absolute
// agreements), the models share the smallest minimum contrast and the largest time-out among
// them, sub-pixel mode 1 with a cell value above 1 uses a point-set peak fit whose greedy stop
// follows greediness, and modes 0 and 3 add no sub-pixel step (integer positions of the last level
// scaled up, dx = dy = 0 at full resolution; from a coarser level dx and dy hold only the offset of
// the model's reference point from that level's centre, see the departures above).
// The final selection treats the matches of all models as one set: a match suppresses any weaker
// one of any model whose box it overlaps by more than max_overlap. Each match carries the id of
// its model in model_id. Writes angle_start and angle_extent into every stored model once all
// arguments are accepted; a refused call (null ids or levels, num_ids below 1, an unknown id, a
// model that cannot be searched, or a bad argument of find_shape_model) changes no model.
// Returns the handle (>= 1, free with clear_mems) of the match array, best first; 0 when nothing
// is found (nothing registered); -1 for a refused call or failed memory (results null); -2 on a
// time-out. count is 0 on every failure.
QURO_API int find_shape_models(unsigned char* data, int width, int height, int* ids, int num_ids,
                               float angle_start, float angle_extent, float min_score,
                               int num_matches, float max_overlap, int subpixel_code, int* levels,
                               float greediness, quro::Match*& results, int& count);

// As find_shape_models, with a mask that acts as in find_shape_model_2 (null: no mask).
QURO_API int find_shape_models_2(unsigned char* data, int width, int height, int* ids,
                                 int num_ids, float angle_start, float angle_extent,
                                 float min_score, int num_matches, float max_overlap,
                                 int subpixel_code, int* levels, float greediness,
                                 unsigned char* mask, quro::Match*& results, int& count);

// Finds model `model_id` under rotation in an image too large for one pass, by tiles.
// `tile_params` is null (read as all 0) or four ints: column count, row count, tile width, tile
// height. Nominal tile: when both tile sides are above 0, each at least twice the model's
// full-resolution side ("width0", "height0"), else 640 x 640. A count of 0 or below becomes the
// image side over the nominal side, rounded half away from zero; every count is clamped to
// 1..(image side / model side), since a tile narrower than the model finds no instance whole (a
// 96 x 72 image asking for 96 x 72 tiles is one tile for any model of 40 x 30 or more). Each axis
// is cut into count parts whose sizes differ by at most one pixel (the wider ones first), and
// every part but the first starts earlier by the model's diagonal, ceil(hypot(width0, height0)),
// so that an instance at any angle lies whole in at least one tile, and then down to a multiple
// of 2^(L - 1), L the model's level count: each tile's pyramid then samples the image as the
// whole image's pyramid does, and an instance is found in its tile as in the whole image (within
// 0.02 px). Each tile is copied out and searched as find_shape_model does (num_matches 0, the
// other arguments as given; the model's time-out applies to each tile, and to the whole call: no
// tile is begun once it has passed since the call began, and the call returns -1); tiles may be
// searched at once on several threads, with the same result as one after the other. The matches, in image
// coordinates, are sorted by score (ties in grid order), and a match is dropped when an earlier
// kept one lies within duplicate_distance (at least 0.5; smaller values, NaN included, act as
// 0.5) of it in both x + dx and y + dy; ids and angles are not compared. At most num_matches
// (all when 0 or below) are handed out, each with model_id and scale_col = scale_row. The angle
// range is written into the stored model as by find_shape_model. "print_time" (set_system) is
// off while the search runs and on after it, whatever it returns (a call refused for null data
// or a size below 1 leaves it alone).
// Returns the handle (>= 1, free with clear_mems) of the merged array, best first; 0 when
// nothing is found (nothing registered); -1 for null data, width or height below 1, an unknown
// model id, any failed tile search (a time-out in a tile included) or failed memory (results
// null); -2 when the model's width0 or height0 is 0 or below. count is 0 on every failure, and
// nothing stays registered then.
QURO_API int find_shape_model_xl(unsigned char* data, int width, int height, int* tile_params,
                                 int model_id, float angle_start, float angle_extent,
                                 float min_score, int num_matches, float max_overlap,
                                 int subpixel_code, int* levels, float greediness,
                                 float duplicate_distance, quro::Match*& results, int& count);

// As find_shape_model_xl for several models: each tile is searched as find_shape_models does
// (`levels` holds two ints per id and is passed on unchanged), the tile grid follows the largest
// width0, height0 and level count among the listed models, the whole call's time-out is the
// largest of theirs (no limit only when none has one), and every match keeps the id the
// multi-model search gave it. Returns as find_shape_model_xl, except: -1 also for null model_ids
// with model_count above 0, or an id the tile search refuses; -2 when no listed model has a size
// above 0 (in particular when model_count is 0 or below).
QURO_API int find_shape_models_xl(unsigned char* data, int width, int height, int* tile_params,
                                  int* model_ids, int model_count, float angle_start,
                                  float angle_extent, float min_score, int num_matches,
                                  float max_overlap, int subpixel_code, int* levels,
                                  float greediness, float duplicate_distance,
                                  quro::Match*& results, int& count);

// Per-point agreement of matches with the image. For each of the `count` matches (any match
// array, e.g. a search's result), the model outline at full resolution is placed at the match's
// position, angle and scales, and every outline point gets the dot product of its direction with
// the image's unit gradient normal at its pixel (position rounded half away from zero; normals
// are 0 where the gradient magnitude is below min_contrast). Scores run from -1 (reversed
// contrast) over 0 (no edge, outside the image) to 1 (exact agreement).
// Element i of *details: min_x, min_y the outline box's corner relative to the match, x, y the
// match position with its sub-pixel part, count points relative to (x, y) with their scores, and
// a copy of match i. A match whose model is not in the table gets an element without points.
// Returns the handle (>= 1, free with clear_mems) of the array written to `details`; 0 when count
// is 0 or below (details untouched, nothing registered); -1 for null data or matches, width or
// height below 1, or failed memory (nothing registered). `data` must hold width x height bytes.
QURO_API int get_match_details(unsigned char* data, int width, int height, float min_contrast,
                               quro::Match* matches, int count, quro::MatchDetails*& details);

// As get_match_details; where `mask` (null, or width x height bytes) is 0 every score is 0.
QURO_API int get_match_details2(unsigned char* data, int width, int height, float min_contrast,
                                quro::Match* matches, int count, unsigned char* mask,
                                quro::MatchDetails*& details);

}  // extern "C"

// ================================================================================================
// Regions: run-length pixel sets, thresholding, region creation, set operations, components,
// features, boundaries and morphology
// ================================================================================================
//
// A region is a set of pixels stored as runs: run i covers the columns col_begins[i] ..
// col_ends[i] (both included) of row rows[i]. The operators keep runs sorted by row, then by first
// column, and rely on that order in their inputs. Coordinates may be negative.
//
// Copies share their buffers (run arrays, chords, parts) through one reference count. Writing into
// a region never changes another copy: a region whose buffers are shared gets buffers of its own
// (a copy of what it keeps) before it grows, replaces or releases any of them, and the buffers it
// leaves stay with the other copies until the last of them goes. A reference count is a plain int:
// copies of one region must not be made, assigned, written or destroyed on two threads at once.
//
// Errors: the members below and the region functions raise std::runtime_error with the message
// "malloc failed" or "realloc failed" when memory runs out (any other failure to get memory or
// threads is reported as "malloc failed"); no other exception leaves them. A region hit by such an
// error stays valid (consistent counts, destructible) but may have lost its runs.

namespace quro {

// One run as a record: columns col_begin .. col_end (included) of row `row`. Lists of chords also
// serve as structuring elements. `reserved` is always 0.
struct QURO_API chord {
    int col_begin;
    int col_end;
    int row;
    int reserved;

    chord() : col_begin(0), col_end(0), row(0), reserved(0) {}
    chord(int col_begin_, int col_end_, int row_) : col_begin(col_begin_), col_end(col_end_),
                                                   row(row_), reserved(0) {}
    // By row, then col_begin, then col_end.
    bool operator<(const chord& o) const {
        if (row != o.row) return row < o.row;
        if (col_begin != o.col_begin) return col_begin < o.col_begin;
        return col_end < o.col_end;
    }
};

// A structuring element: a chord list (see the morphology functions).
using StructuringElement = std::vector<chord>;

// The library's pixel set. All fields are public; the run arrays, the chord array and the parts
// array are malloc'd, each part is a region made with new, and the reference count is shared by all
// copies. Cached features are -1 (ints) or -1.0 (doubles) while not computed. The run arrays'
// capacity is the field run_capacity, also read by capacity(): a field and a member function
// cannot share one name, so the field carries the longer one.
class QURO_API region {
public:
    int num_runs;         // runs held in rows / col_begins / col_ends
    int* rows;            // row of each run
    int* col_begins;      // first column of each run
    int* col_ends;        // last column of each run (included)
    int row1, col1, row2, col2;  // cached bounding box
    double rect_x, rect_y;       // cached smallest rotated rectangle: centre column and row,
    double rect_angle;           //   angle in degrees in (-90, 90],
    double rect_len1, rect_len2; //   half of its longer and of its shorter side
    double ellipse_ra, ellipse_rb, ellipse_angle;  // cached equivalent ellipse (degrees)
    chord* chords;        // the runs as one array of records
    int num_chords;       // entries in chords
    int area;             // cached pixel count
    double centroid_x, centroid_y;  // cached mean column and mean row
    double circularity;   // cached circularity
    int width, height;    // image domain the region came from; -1 unknown
    int num_parts;        // connected parts held in `parts` (0: not split)
    region** parts;       // num_parts pointers to heap regions
    int* refcount;        // reference count shared by every copy
    int run_capacity;     // entries allocated in each of the three run arrays

    // No runs, no chords, no parts, caches unknown; three run arrays of 2000 entries.
    region();
    // As region() with n entries per run array; n <= 0 leaves the arrays null (capacity 0).
    explicit region(int n);
    // Shares every buffer of o and copies its fields.
    region(const region& o);
    // Drops this region's share of its buffers (freeing them when it was the last copy) and then
    // shares o's. Self-assignment changes nothing. Never throws.
    region& operator=(const region& o);
    // Drops this region's share; the last copy frees the run arrays, the chords, every part and
    // the parts array.
    ~region();

    // Entries allocated in each run array (run_capacity).
    int capacity() const;
    // Makes room for at least n runs ("realloc failed"); nothing when the capacity suffices.
    void reserve(int n);
    // Doubles the capacity; a capacity of 0 becomes 1 ("realloc failed", also beyond INT_MAX).
    void expand();
    // Sets run_capacity to n and nothing else: only for a caller that has put arrays of n entries
    // in place itself.
    void update(int n);
    // With runs: the chord array becomes a copy of the runs (num_chords = num_runs). Without runs
    // nothing changes.
    void to_1();
    // The runs become a copy of the chord array (num_runs = num_chords).
    void to_3();
};

}  // namespace quro

using quro::StructuringElement;

extern "C" {

// Thresholding: out gets the runs of the pixels whose grey value g satisfies min_gray <= g <=
// max_gray, sorted by row then column, a run reaching the last column ending at width - 1.
// out's num_parts becomes 0 (its parts are released), its width and height the image's; its
// chords and cached features are left as they were. min_gray > max_gray gives no runs. A null
// image or out, or a width or height below 1, leaves out unchanged. `image` holds width x height
// bytes and is not written.
QURO_API void threshold_y(unsigned char* image, int width, int height, int min_gray, int max_gray,
                          quro::region* out);

// out's runs and its chords become the n given runs (n = rows.size()), in the given order, which
// the operators expect sorted by row, then first column. Cached features, parts, width and height
// are left as they were. Nothing happens for a null out, n = 0, or vectors of different lengths.
QURO_API void gen_region_runs(quro::region* out, const std::vector<int>& rows,
                              const std::vector<int>& col_begins,
                              const std::vector<int>& col_ends);

// As gen_region_runs from n-entry arrays; nothing for n <= 0, a null out or a null array.
QURO_API void gen_region_runs2(quro::region* out, int* rows, int* col_begins, int* col_ends, int n);

// Appends to out's runs the runs covering the points (cols[i], rows[i]): by ascending row, each
// row's columns merged into runs of neighbouring columns, repeated points counted once. The runs
// are appended after out's existing ones without merging or sorting with them, so keeping the
// whole sorted is the caller's job (start from an empty region, or add only rows below the last).
// Chords, parts and cached features are left as they were. Nothing happens for a null out, no
// points, or vectors of different lengths.
QURO_API void gen_region_points(quro::region* out, std::vector<int> cols, std::vector<int> rows);

// Writes the runs of `in` to the three vectors (each resized to the run count); a region without
// runs gives its chords instead, and one with neither leaves the vectors untouched. Null vector
// pointers are skipped.
QURO_API void get_region_runs(const quro::region& in, std::vector<int>* rows,
                              std::vector<int>* col_begins, std::vector<int>* col_ends);

// Set operations: out = a | b (union2_y), a - b (difference_y) or a & b (intersection_y), as
// pixel sets. Requires a and b sorted by row, then first column (threshold_y gives that; runs
// handed to gen_region_runs are taken in the caller's order, so sort them first): unsorted input
// gives a wrong result, never an access outside the runs. An empty input is the empty set
// (a | empty = a). Ensures out's runs are the result sorted by row, then first column, with no
// empty run; when a and b are canonical (no two runs of one row overlapping or touching, as
// threshold_y and these operations give), so is out: a union merges touching runs.
// out's num_runs and run arrays (with run_capacity) change; its chords, parts, cached features,
// width and height are left as they were. out may be a or b, or a copy sharing their arrays: the
// result is then built in new arrays, and the old ones stay with the copies still holding them.
// A split a or b (num_parts != 0) or a null out leaves out unchanged.
QURO_API void union2_y(const quro::region& a, const quro::region& b, quro::region* out);
QURO_API void difference_y(const quro::region& a, const quro::region& b, quro::region* out);
QURO_API void intersection_y(const quro::region& a, const quro::region& b, quro::region* out);

// Connected components: out's parts become the components of in, each a new region holding its
// runs in in's order, with its features computed (compute_feature_y) and in's width and height.
// tolerance 0 joins 4-neighbours, 1 joins 8-neighbours (runs on rows one apart touch when each
// ends at most `tolerance` columns before the other begins); rows two apart never join. Parts are
// numbered in the raster order of their first pixel. Requires in sorted by row, then first column
// (unsorted runs give wrong parts, never an access outside the runs). Ensures out's earlier parts
// are released first (a copy of out sharing them keeps them); out's own runs, chords, cached
// features, width and height are left as they were; out may be in.
// Returns the number of components (>= 1); -1 when in is split (num_parts != 0) or holds no runs,
// or out is null, with out unchanged.
QURO_API int connection_y(const quro::region& in, quro::region* out, int tolerance);

// Hole filling: out's runs become in plus every part of the background that is 4-connected to
// nothing outside in's bounding box, sorted by row, then first column, canonical. Requires in sorted
// by row, then first column. out's chords, parts, cached features, width and height are left as
// they were; out may be in or share its arrays. A split or empty in, or a null out, leaves out
// unchanged.
QURO_API void fill_up_y(const quro::region& in, quro::region* out);

// Fills r's cached features from its runs: bounding box (row1, col1, row2, col2), area, centroid
// (mean column and row), equivalent ellipse (ellipse_ra, ellipse_rb: radii with the second
// moments of the region; ellipse_angle = -1/2 atan2(2 mxy, mxx - myy) in degrees, counter-
// clockwise on screen), circularity (min(1, area / (pi d^2)), d the largest distance from the
// centroid to a row end) and the smallest rotated rectangle of the row ends' pixel centres
// (rect_x, rect_y its centre, rect_len1 and rect_len2 half its longer and shorter side,
// rect_angle the longer side's direction, counter-clockwise on screen, in (-90, 90]).
// Special cases: one pixel has area 1, every other feature 0 and centre and centroid on the
// pixel. Two touching pixels have circularity 1, centre and centroid midway, ellipse_ra and
// 2 rect_len1 their centre distance, the rest 0, and both angles 0 side by side, -90 one above
// the other, 45 or -45 diagonally (45 rising to the right on screen). Two pixels that do not
// touch (two separate pixels on one row, say) get the general features above, as any larger
// region does. A line has rect_len2 0.
// A null, split or empty r is left unchanged.
QURO_API void compute_feature_y(quro::region* r);

// Writes the smallest and largest row and column over r's runs (in any order). A null pointer is
// skipped; a split region or one without runs writes nothing.
QURO_API void smallest_rectangle1_y(const quro::region& r, int* row1, int* col1, int* row2,
                                    int* col2);

// Appends the outer contour of the 8-connected component of r that holds its top row's rightmost
// pixel: pixel columns to cols and rows to rows, clockwise on screen from that pixel, a pixel on
// a one-pixel-wide part once per visit, the start pixel once. A lone pixel gives itself. Requires
// r sorted by row, then first column. A null vector is skipped; a split region, one without runs,
// or one whose contour exceeds 2^23 pixels (a run of 2^32 pixels has 2^33: it is refused within
// 2^23 steps) appends nothing.
QURO_API void get_region_contour(const quro::region& r, std::vector<int>* cols,
                                 std::vector<int>* rows);

// *inside = 1 when pixel (col, row) lies in r, else 0 (also for a split region or one without
// runs). Requires r sorted by row, then first column; allocates nothing. A null inside is skipped.
QURO_API void test_region_point(const quro::region& r, int col, int row, int* inside);

// Boundary of in by type (an exact string): "inner" = in minus its erosion by the 3 x 3 square,
// "outer" = the dilation of in by the 3 x 3 square minus in, "inner_filled" = the outer contour
// pixels (get_region_contour) of every 8-connected component of in, as runs replacing out's
// (more than 2^23 contour pixels in all leave out unchanged).
// in without runs gives no runs. Any other type, a null type or out, or a split in leave out
// unchanged. out may be, or share arrays with, in. Requires in sorted by row, then first column;
// out's chords, parts, cached features, width and height are left as they were.
QURO_API void boundary_y(const quro::region& in, quro::region* out, const char* type);

// ------------------------------------------------------------------------------------------------
// Morphology. A structuring element is a region (a chord list turned into runs by copying row,
// col_begin and col_end into the three run arrays) used shifted by (-ref_row, -ref_col). Where a
// function takes ref_col and ref_row, either one -1 makes both the centre of the element's
// bounding box: row1 + (row2 - row1 + 1) / 2, col1 + (col2 - col1 + 1) / 2.
//
// Common to the region operators below: inputs sorted by row, then first column, with the runs
// of a row apart (threshold_y and the set operations give that); out's runs come sorted so, the
// runs of a row apart, and out's width and height become in's; its chords, parts and cached
// features are left as they were. out may be, or share arrays with, any input (the element
// included): the result is the same. A null out, a split input or an element without runs (or
// split) leave out unchanged, as does an element whose shifted coordinates, combined with in's,
// would leave the int range. An input without runs gives a result without runs.
// ------------------------------------------------------------------------------------------------

// The disc of radius r (r < 1 counts as 1) centred on the origin: chords {-w, w, y} for y = -r ..
// r, the half-widths w from the midpoint circle (r = 1: a plus; r = 5: 2 3 4 5 5 5 5 5 4 3 2).
// se is cleared first; r above 2^24 leaves it empty. A null se does nothing.
QURO_API void gen_se_circle(int r, std::vector<quro::chord>* se);

// The rectangle of max(height, 2) rows from (0, 0): chords {0, width - 1, row}, the last column 1
// when width < 2 (so gen_se_rect(1, 1) is 2 x 2). se is resized to the rows. Returns the number
// of chords, 0 for a null se, -1 (se as before or cleared) when height is above 2^24 or memory
// runs out.
QURO_API int gen_se_rect(int width, int height, std::vector<quro::chord>* se);

// The cross in a box of w = max(width, 2) columns and h = max(height, 2) rows from (0, 0): column
// w / 2 on every row, the full row 0 .. w - 1 on row h / 2; chords in row order. se is cleared
// first; height above 2^24 leaves it empty. A null se does nothing.
QURO_API void gen_se_cross(int width, int height, std::vector<quro::chord>* se);

// Erosion: out = the pixels p with p + s - ref in in for every pixel s of se. Its rows run from
// in's first row minus the element's first row offset to in's last minus its last.
QURO_API void erosion2_y(const quro::region& in, const quro::region& se, quro::region* out,
                         int ref_col, int ref_row);

// Dilation: out = the pixels p + s - ref for p in in and s in se; touching runs merged.
QURO_API void dilation2_y(const quro::region& in, const quro::region& se, quro::region* out,
                          int ref_col, int ref_row);

// Opening: erosion, then dilation, by se with the centre of its bounding box as reference (the
// result does not depend on the reference).
QURO_API void opening_y(const quro::region& in, const quro::region& se, quro::region* out);

// Closing: dilation, then erosion, by se reflected about the centre c of its bounding box (runs
// mapped to row 2 c.row - row, columns 2 c.col - col_end .. 2 c.col - col_begin), both with c
// as reference. When in's width and height are both above 0, the result is clipped to columns
// 0 .. width - 1 and rows 0 .. height - 1.
QURO_API void closing_y(const quro::region& in, const quro::region& se, quro::region* out);

// top_hat_y: out = in minus its opening. bottom_hat_y: out = the closing of in minus in.
QURO_API void top_hat_y(const quro::region& in, const quro::region& se, quro::region* out);
QURO_API void bottom_hat_y(const quro::region& in, const quro::region& se, quro::region* out);

// Hit-or-miss: out = the pixels p with p + h - ref in in for every pixel h of se_hit and p + m -
// ref outside in for every pixel m of se_miss. One reference for both elements: a -1 resolves
// from se_hit. Either element unusable leaves out unchanged.
QURO_API void hit_or_miss_y(const quro::region& in, const quro::region& se_hit,
                            const quro::region& se_miss, quro::region* out, int ref_col,
                            int ref_row);

// Hit-or-miss with one run pattern: the positions where, on every row of se, its runs lie in in
// and the gaps between its consecutive runs lie outside it; hit_or_miss_y(in, se, gaps of se)
// with one reference resolved from se (plain erosion when se has no gaps). se's runs sorted by
// row, then first column.
QURO_API void hit_or_miss_y2(const quro::region& in, const quro::region& se, quro::region* out,
                             int ref_col, int ref_row);

}  // extern "C"

// ================================================================================================
// One-dimensional measuring: measure handles along lines, circles and ellipses, edges along them
// ================================================================================================
//
// A measure handle is a quro::RRect across an expected edge: with phi = angle + 90 degrees its
// profile runs in the direction (sin phi, cos phi) in (x, y), so angle 0 measures along +x and
// angle 90 along -y (up on screen). The handle layouts hand out arrays of handles registered
// under kind 6 with the handle count; the measuring exports hand out arrays of doubles registered
// under kind 5 with the number of doubles. Free each with clear_mems(handle). On any failure they
// return -1, register nothing and leave *out and *count / *found unchanged.
// A layout hands out at most 2^20 handles: one that would hand out more (say a circle of radius
// 1e5 with half_width 1e-3 and no wanted count) returns -1 at once.

extern "C" {

// Handles across the segment (x1, y1) -> (x2, y2) of length L, spaced evenly: the first
// 2 half_width from the start, the last 2 half_width from the end; a single handle sits at the
// midpoint. (int)((L - 4 half_width) / (3 half_width)) + 1 fit; wanted < 1 takes them all,
// otherwise min(wanted, fit). Every handle has the angle atan2(x2 - x1, y2 - y1) in degrees (its
// profile crosses the segment), minus 180 when flip >= 1, and the given half_length and
// half_width.
// Returns the handle of the array and sets *out and *count (the handle count), or -1 when none
// fits (a segment shorter than about half_width, or a non-finite end point), half_width <= 0 or
// not finite, half_length not finite, the fit count overflows an int, memory runs out, or out or
// count is null.
QURO_API int gen_measure_line(double x1, double y1, double x2, double y2, double half_length,
                              double half_width, int flip, int wanted, quro::RRect** out,
                              int* count);

// Handles around the circle of centre (x, y): (int)(2 pi radius / (3 half_width)) fit; wanted as
// for gen_measure_line. Handle i sits at theta = i 2 pi / count, position (x + radius sin theta,
// y + radius cos theta), with the angle theta in degrees - 90 (profile outward) when
// direction >= 0, + 90 (inward) when direction < 0.
// Returns the handle and sets *out and *count, or -1 when none fits (radius <= 0 included),
// half_width <= 0, a value is not finite, the fit count overflows an int, memory runs out, or out
// or count is null.
QURO_API int gen_measure_circle(double x, double y, double radius, double half_length,
                                double half_width, int direction, int wanted, quro::RRect** out,
                                int* count);

// Handles around the ellipse of centre (x, y), semi-axes a and b, turned counter-clockwise on
// screen by `angle` degrees, spaced evenly by arc length (perimeter P; (int)(P / (3 half_width))
// fit; wanted as for gen_measure_line). Handle i (1 .. count) sits at the ellipse parameter whose
// arc length from parameter 0 is i P / count, found to within a quarter degree (so the last is
// within a quarter degree of parameter 0, and an exact start is still moved by up to a quarter
// degree). Each profile runs along the ellipse normal, outward when direction >= 0, inward below.
// Returns the handle and sets *out and *count, or -1 when none fits, a <= 0, b <= 0,
// half_width <= 0, a value is not finite, the fit count overflows an int, memory runs out, or out
// or count is null. The work grows with the handle count times the quadrature cost.
QURO_API int gen_measure_ellipse(double x, double y, double angle, double a, double b,
                                 double half_length, double half_width, int direction, int wanted,
                                 quro::RRect** out, int* count);

// Writes six points (x, y) of the handle to out: the start and the end of its profile axis
// (centre -+ half_length along the profile), then its four corners: start + half_width across,
// start - half_width across, end - half_width across, end + half_width across, where "across"
// is (cos phi, -sin phi). A null out writes nothing.
QURO_API void rr_to_pts(float x, float y, float angle, float half_length, float half_width,
                        double out[12]);

// Writes to *out the handle whose profile runs from (x1, y1) to (x2, y2): centre the midpoint,
// half_length half their distance, angle atan2(x2 - x1, y2 - y1) in degrees - 90, and the given
// half_width. A null out writes nothing.
QURO_API void ppw_to_rr(double x1, double y1, double x2, double y2, double half_width,
                        quro::RRect* out);

// The integral of f from lower to upper by adaptive Gauss-Kronrod 7/15 quadrature: an interval
// is accepted when |K15 - G7| <= max(tolerance, tolerance |value|), when it can no longer be
// halved (its midpoint equals an end, or lies within a relative 2^-52 of the lower end), when its
// value is not finite, or after max_depth + 1 halvings; otherwise both halves are integrated.
// *error (when not null) receives the sum of the accepted intervals' |K15 - G7|.
// Returns NaN, with *error NaN, when max_depth < 1, tolerance is negative or NaN (no interval
// could ever meet it), a limit is not finite, f is empty or f
// throws (the exception does not leave this function). The time grows up to 2^max_depth
// integrand calls for an integrand that never meets the tolerance.
QURO_API double integrate_adaptive(std::function<double(double)> f, double lower, double upper,
                                   double tolerance, int max_depth, double* error);

// Measures every handle on the image: the grey profile averaged over 2 (int)half_width + 1
// bilinear samples across the handle at unit steps k = -(int)half_length .. (int)half_length
// along it; its Gaussian derivative of sigma (scaled so that a sharp step of height s gives about
// 0.88 s at sigma 1 and 0.97 s at sigma 2); its positive local maxima and negative local minima
// with |derivative| > threshold, refined by a parabola (a step midway between two samples counts
// once, at the middle). Mended: a dip of the derivative between two steps of one polarity is no
// edge (plain extrema report it as a third edge of that polarity), and derivative values within
// 1e-9 of the profile's largest |derivative| tie, so a flat derivative (a ramp) is one edge at
// the middle of its flat stretch rather than one wherever rounding makes an extremum.
// `select` picks one edge per handle: "first", "last" (either polarity), "first+", "last+"
// (dark to bright along the profile), "first-", "last-" (bright to dark); "strongest" and every
// other text take the largest |amplitude|. A handle with a corner outside the pixel centres
// 1 .. width - 2, 1 .. height - 2, a negative half_length or half_width, or a non-finite value
// finds nothing.
// For the n handles that found an edge, in handle order, writes 2n doubles: the n x values, then
// the n y values. Returns the handle of the block (registered with 2n elements) and sets *out
// and *found = n, or -1 when no handle found an edge (count 0 included), image, select, handles,
// out or found is null, width or height < 1, count < 0, sigma <= 0, above 100000 or not a number,
// or memory runs out. The handles are measured in parallel (on the calling thread alone when they
// hold little work in all); image and handles are only read.
QURO_API int do_measure(const unsigned char* image, int width, int height, double sigma,
                        double threshold, const char* select, const quro::RRect* handles,
                        int count, double** out, int* found);

// Measures one rectangle as do_measure does and writes every edge as a triple (x, y, signed
// amplitude) in profile order; with |threshold| < 2.220446049250313e-16 it writes instead one
// triple per profile sample: its position on the axis and its derivative value.
// Returns the handle of the block and sets *out and *count = the number of doubles (three per
// triple), or -1 when the rectangle finds nothing (as for do_measure's handles), no edge is
// found, image, out or count is null, width or height < 1, sigma <= 0, above 100000 or not a
// number, or memory runs out.
QURO_API int measure_pos_d(double x, double y, double angle, double half_length,
                           double half_width, const unsigned char* image, int width, int height,
                           double sigma, double threshold, double** out, int* count);

// Fits a line, a circle or an ellipse to n points given as 2n doubles, the n x values followed by
// the n y values (the layout of do_measure's block); the fits work on the points converted to
// float and sum in double.
// type 0, line (n >= 2): writes (vx, vy, x0, y0), the unit direction (cos t, sin t) with vx >= 0
//   and a point on the line. dist 2 is the least-squares line (attempts, samples and param are
//   not used). dist 1 (L1), 4 (L12), 5 (Fair), 6 (Welsch) and 7 (Huber) weigh the residuals as
//   the DIST_* codes of the same numbers do, with param as their constant (0 takes Fair's 1.3998
//   and Welsch's 2.9846, <= 0 Huber's 1.345): each of `attempts` attempts starts from
//   max(samples, 2) random points and reweighs up to 30 times; the line with the most points
//   within param (1 when param is 0) of it is refitted to those points (kept as it is when fewer
//   than two are). When no line has a point within that distance, the line of least total
//   distance is returned, and a line whose total distance is below n FLT_EPSILON at once.
//   param is therefore the inlier radius as well as the weight constant, and the refit weighs
//   every point within it alike: with param 1, outliers up to a pixel off pull the final line
//   (Huber lines through 40 points of noise 0.1 pixel, one in ten moved 0.3 to 0.9 pixel off,
//   ended more than 0.1 pixel off 251 times in 1000 with param 1, 13 times with 0.2). For
//   sub-pixel work give param about two to three times the points' noise, e.g. 0.2 for edges.
// type 1, circle (n >= 3; dist is not used): writes (cx, cy, r). Each attempt draws max(samples,
//   3) random points: three give the circle through them, more an algebraic (Taubin) fit. The
//   circle with the most points within param of it is refitted to those points (kept as drawn
//   when fewer than three are); with none, the circle of least total distance is returned, and a
//   circle whose total distance is below n FLT_EPSILON at once.
// type 2, ellipse (n >= 5; dist, param, attempts and samples are not used): the direct
//   least-squares conic fit; writes (cx, cy, angle, a, b), a >= b the semi-axes and angle in
//   degrees in [-90, 90] the direction (cos angle, sin angle) of the major axis in (x, y): it turns
//   clockwise on screen, the opposite sense to the angles of regions and measure handles.
// The line and circle fits draw from a generator seeded by the clock's seconds, so calls in
// different seconds may give slightly different results; any other generator is left alone.
// Returns 0 with out written, or -1 with out untouched when points or out is null, the type is
// unknown, n is below the type's minimum, a line's dist is not one of 1, 2, 4, 5, 6, 7, a robust
// fit has attempts < 1 or a non-finite param, the points are collinear (circle, ellipse) or the
// result is not finite, has a radius or a semi-axis <= 0, or memory runs out.
QURO_API int do_fit(const double* points, int n, int type, int dist, float param, int attempts,
                    int samples, double* out);

// do_fit with param (moved to the end of the inputs) converted to float.
QURO_API int do_fit2(const double* points, int n, int type, int dist, int attempts, int samples,
                     double param, double* out);

}  // extern "C"

#endif  // QURO_QURO_H
