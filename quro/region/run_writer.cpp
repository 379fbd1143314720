// The output side of the region operators: the in-place rule and the growth of the arrays written.
#include "quro/region/run_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "quro/region/region_buffers.h"

namespace quro {
namespace {

// Whether out's run arrays are (any of) r's; arrays not yet allocated are nobody's.
bool shares_run_arrays(const region& out, const region& r) {
    return (out.rows != nullptr && out.rows == r.rows) ||
           (out.col_begins != nullptr && out.col_begins == r.col_begins) ||
           (out.col_ends != nullptr && out.col_ends == r.col_ends);
}

}  // namespace

RunWriter::RunWriter(region& out, std::initializer_list<const region*> inputs) : out_(out) {
    const bool in_place = std::any_of(inputs.begin(), inputs.end(), [&](const region* r) {
        return shares_run_arrays(out, *r);
    });
    if (in_place) {
        fresh_.emplace();
        target_ = &*fresh_;
    } else {
        make_sole_owner(out, false);
        target_ = &out;
    }
    target_->num_runs = 0;
    bind();
}

void RunWriter::bind() {
    rows_ = target_->rows;
    begins_ = target_->col_begins;
    ends_ = target_->col_ends;
    capacity_ = target_->run_capacity;
}

void RunWriter::make_room(std::int64_t room) {
    if (capacity_ - n_ >= room) return;
    target_->num_runs = static_cast<int>(n_);  // the growth keeps what is written so far
    grow_to(*target_, n_ + room - 1);
    bind();
}

RunSink RunWriter::sink(std::int64_t room) {
    make_room(room);
    return {rows_, begins_, ends_, n_};
}

void RunWriter::copy(const region& from, int begin, int end) {
    const int count = end - begin;
    if (count <= 0) return;
    make_room(count);
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(int);
    std::memcpy(rows_ + n_, from.rows + begin, bytes);
    std::memcpy(begins_ + n_, from.col_begins + begin, bytes);
    std::memcpy(ends_ + n_, from.col_ends + begin, bytes);
    n_ += count;
}

void RunWriter::finish() {
    target_->num_runs = static_cast<int>(n_);
    if (fresh_) install_run_arrays(out_, *fresh_);
}

}  // namespace quro
