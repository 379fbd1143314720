// Where a region operator writes its runs. Normally into the output's own run arrays from index 0
// (after the output got buffers of its own when it shared them). When the output's run arrays are
// those of an input (the output is that input, or a copy still sharing its arrays), the runs go
// into three fresh arrays of 2000 entries instead, installed into the output at the end, so the
// input is never overwritten while it is read; the old arrays are then released through the
// reference count, so a copy of the input that still shares them keeps them.
#ifndef QURO_REGION_RUN_WRITER_H
#define QURO_REGION_RUN_WRITER_H

#include <cstdint>
#include <initializer_list>
#include <optional>

#include "quro/quro.h"

namespace quro {

// Writes runs at index n onwards into arrays with room enough, as RunWriter::sink promised. A
// plain value, so a row rule's loop keeps it in registers.
struct RunSink {
    int* rows;
    int* begins;
    int* ends;
    std::int64_t n;

    // Writes the run and keeps it when `keep`; a dropped run is overwritten by the next, so the
    // caller decides without a branch. Each call takes one entry of the room.
    void put_if(bool keep, int row, int begin, int end) {
        rows[n] = row;
        begins[n] = begin;
        ends[n] = end;
        n += keep;
    }
    void put(int row, int begin, int end) { put_if(true, row, begin, end); }
};

class RunWriter {
public:
    // Starts writing into out; `inputs` are the regions the operator reads while writing. out's
    // runs are replaced (from here on when it writes into out's own arrays, else by finish());
    // its chords, parts, caches and domain are never touched.
    RunWriter(region& out, std::initializer_list<const region*> inputs);

    // Room for `room` more runs (growing the arrays by the region growth rule, "realloc
    // failed"), handed out as a sink to write them through; done(sink) keeps what it wrote.
    RunSink sink(std::int64_t room);
    void done(const RunSink& sink) { n_ = sink.n; }

    // Appends runs begin .. end - 1 of `from` unchanged.
    void copy(const region& from, int begin, int end);

    // out's num_runs becomes the number of runs written, and its arrays (with their capacity)
    // those written into. Call once, after the last run.
    void finish();

private:
    void make_room(std::int64_t room);
    void bind();

    region& out_;
    std::optional<region> fresh_;
    region* target_;
    int* rows_ = nullptr;
    int* begins_ = nullptr;
    int* ends_ = nullptr;
    std::int64_t n_ = 0;
    std::int64_t capacity_ = 0;
};

}  // namespace quro

#endif  // QURO_REGION_RUN_WRITER_H
