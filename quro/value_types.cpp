// Constructors, copies and moves of the exported owning value types. Copies are deep and a
// moved-from object is left empty, so that a by-value return never frees an array twice.
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "quro/quro.h"
#include "quro/status.h"

QURO_API int nquro = 0;  // declared extern "C" in quro.h

extern "C" QURO_API int fnquro(void) {
    return quro::kOk;
}

namespace quro {
namespace {

// malloc'd copy of n elements of a trivially copyable type; null for n <= 0 or a null source.
// Throws std::bad_alloc when the allocation fails, so a copy never silently loses its data.
template <class T>
T* duplicate_array(const T* src, long long n) {
    if (src == nullptr || n <= 0) return nullptr;
    const size_t bytes = static_cast<size_t>(n) * sizeof(T);
    T* dst = static_cast<T*>(std::malloc(bytes));
    if (dst == nullptr) throw std::bad_alloc();
    std::memcpy(dst, src, bytes);
    return dst;
}

template <class Outline>
void copy_outline(Outline& dst, const Outline& src) {
    auto* pts = duplicate_array(src.points, src.count);
    std::free(dst.points);
    dst.min_x = src.min_x;
    dst.min_y = src.min_y;
    dst.max_x = src.max_x;
    dst.max_y = src.max_y;
    dst.level_width = src.level_width;
    dst.level_height = src.level_height;
    dst.count = src.count;
    dst.handle = src.handle;
    dst.points = pts;
}

template <class Outline>
void move_outline(Outline& dst, Outline& src) {
    std::free(dst.points);
    dst.min_x = src.min_x;
    dst.min_y = src.min_y;
    dst.max_x = src.max_x;
    dst.max_y = src.max_y;
    dst.level_width = src.level_width;
    dst.level_height = src.level_height;
    dst.count = src.count;
    dst.handle = src.handle;
    dst.points = src.points;
    src.points = nullptr;
    src.count = 0;
    src.handle = -1;
}

template <class Outline>
void reset_outline(Outline& t) {
    t.min_x = t.min_y = t.max_x = t.max_y = 0;
    t.level_width = t.level_height = t.count = 0;
    t.handle = -1;
    t.points = nullptr;
}

}  // namespace

// ---- TemplateI / TemplateF ---------------------------------------------------------------------

TemplateI::TemplateI() { reset_outline(*this); }
TemplateI::~TemplateI() { std::free(points); }
TemplateI::TemplateI(const TemplateI& o) {
    reset_outline(*this);
    copy_outline(*this, o);
}
TemplateI::TemplateI(TemplateI&& o) noexcept {
    reset_outline(*this);
    move_outline(*this, o);
}
TemplateI& TemplateI::operator=(const TemplateI& o) {
    if (this != &o) copy_outline(*this, o);
    return *this;
}
TemplateI& TemplateI::operator=(TemplateI&& o) noexcept {
    if (this != &o) move_outline(*this, o);
    return *this;
}

TemplateF::TemplateF() { reset_outline(*this); }
TemplateF::~TemplateF() { std::free(points); }
TemplateF::TemplateF(const TemplateF& o) {
    reset_outline(*this);
    copy_outline(*this, o);
}
TemplateF::TemplateF(TemplateF&& o) noexcept {
    reset_outline(*this);
    move_outline(*this, o);
}
TemplateF& TemplateF::operator=(const TemplateF& o) {
    if (this != &o) copy_outline(*this, o);
    return *this;
}
TemplateF& TemplateF::operator=(TemplateF&& o) noexcept {
    if (this != &o) move_outline(*this, o);
    return *this;
}

// ---- MatchRes ----------------------------------------------------------------------------------

MatchRes::MatchRes() : count(0), matches(nullptr) {}
MatchRes::~MatchRes() { std::free(matches); }
MatchRes::MatchRes(const MatchRes& o)
    : count(o.count), matches(duplicate_array(o.matches, o.count)) {}
MatchRes::MatchRes(MatchRes&& o) noexcept : count(o.count), matches(o.matches) {
    o.count = 0;
    o.matches = nullptr;
}
MatchRes& MatchRes::operator=(const MatchRes& o) {
    if (this != &o) {
        Match* m = duplicate_array(o.matches, o.count);
        std::free(matches);
        matches = m;
        count = o.count;
    }
    return *this;
}
MatchRes& MatchRes::operator=(MatchRes&& o) noexcept {
    if (this != &o) {
        std::free(matches);
        count = std::exchange(o.count, 0);
        matches = std::exchange(o.matches, nullptr);
    }
    return *this;
}

// ---- MatchDetails ------------------------------------------------------------------------------

MatchDetails::MatchDetails()
    : min_x(0), min_y(0), x(0.f), y(0.f), count(0), points(nullptr), scores(nullptr) {}
MatchDetails::~MatchDetails() {
    std::free(points);
    std::free(scores);
}
MatchDetails::MatchDetails(const MatchDetails& o)
    : min_x(o.min_x), min_y(o.min_y), x(o.x), y(o.y), count(o.count), points(nullptr),
      scores(nullptr), match(o.match) {
    points = duplicate_array(o.points, o.count);
    try {
        scores = duplicate_array(o.scores, o.count);
    } catch (...) {
        std::free(points);
        throw;
    }
}
MatchDetails::MatchDetails(MatchDetails&& o) noexcept
    : min_x(o.min_x), min_y(o.min_y), x(o.x), y(o.y), count(o.count), points(o.points),
      scores(o.scores), match(o.match) {
    o.points = nullptr;
    o.scores = nullptr;
    o.count = 0;
}
MatchDetails& MatchDetails::operator=(const MatchDetails& o) {
    if (this != &o) {
        MatchDetails tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}
MatchDetails& MatchDetails::operator=(MatchDetails&& o) noexcept {
    if (this != &o) {
        std::free(points);
        std::free(scores);
        min_x = o.min_x;
        min_y = o.min_y;
        x = o.x;
        y = o.y;
        count = std::exchange(o.count, 0);
        points = std::exchange(o.points, nullptr);
        scores = std::exchange(o.scores, nullptr);
        match = o.match;
    }
    return *this;
}

// ---- VectorField -------------------------------------------------------------------------------

namespace {
long long field_size(const VectorField& f) {
    return (f.width > 0 && f.height > 0) ? static_cast<long long>(f.width) * f.height : 0;
}
}  // namespace

VectorField::VectorField() : x(0), y(0), width(0), height(0), map_x(nullptr), map_y(nullptr) {}
VectorField::~VectorField() {
    std::free(map_x);
    std::free(map_y);
}
VectorField::VectorField(const VectorField& o)
    : x(o.x), y(o.y), width(o.width), height(o.height), map_x(nullptr), map_y(nullptr) {
    map_x = duplicate_array(o.map_x, field_size(o));
    try {
        map_y = duplicate_array(o.map_y, field_size(o));
    } catch (...) {
        std::free(map_x);
        throw;
    }
}
VectorField::VectorField(VectorField&& o) noexcept
    : x(o.x), y(o.y), width(o.width), height(o.height), map_x(o.map_x), map_y(o.map_y) {
    o.map_x = nullptr;
    o.map_y = nullptr;
    o.width = 0;
    o.height = 0;
}
VectorField& VectorField::operator=(const VectorField& o) {
    if (this != &o) {
        VectorField tmp(o);
        *this = std::move(tmp);
    }
    return *this;
}
VectorField& VectorField::operator=(VectorField&& o) noexcept {
    if (this != &o) {
        std::free(map_x);
        std::free(map_y);
        x = o.x;
        y = o.y;
        width = std::exchange(o.width, 0);
        height = std::exchange(o.height, 0);
        map_x = std::exchange(o.map_x, nullptr);
        map_y = std::exchange(o.map_y, nullptr);
    }
    return *this;
}

// ---- Contour -----------------------------------------------------------------------------------

Contour::Contour() : count(0), diameter(0.0), points(nullptr) {}
Contour::~Contour() { std::free(points); }
Contour::Contour(const Contour& o)
    : count(o.count), diameter(o.diameter), points(duplicate_array(o.points, o.count)) {}
Contour::Contour(Contour&& o) noexcept : count(o.count), diameter(o.diameter), points(o.points) {
    o.points = nullptr;
    o.count = 0;
}
Contour& Contour::operator=(const Contour& o) {
    if (this != &o) {
        EdgePoint* p = duplicate_array(o.points, o.count);
        std::free(points);
        points = p;
        count = o.count;
        diameter = o.diameter;
    }
    return *this;
}
Contour& Contour::operator=(Contour&& o) noexcept {
    if (this != &o) {
        std::free(points);
        count = std::exchange(o.count, 0);
        diameter = o.diameter;
        points = std::exchange(o.points, nullptr);
    }
    return *this;
}

}  // namespace quro
