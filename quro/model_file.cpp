// Model files and model memory buffers: the four exports that move a model out of the process
// and back in. The byte form is in model_archive.cpp.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>

#include "quro/export_guard.h"
#include "quro/model_archive.h"
#include "quro/model_table.h"
#include "quro/quro.h"
#include "quro/result_registry.h"
#include "quro/status.h"

namespace quro {
namespace {

using FileHandle = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

// Opens `path` for reading only when it names a regular file. The open itself never blocks:
// it is non-blocking, so a named pipe without a writer (or a device) is opened at once, seen by
// its type and closed again. Null when the path cannot be opened or is not a regular file.
FileHandle open_regular_file(const char* path, struct stat& st) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return FileHandle(nullptr, &std::fclose);
    const int flags = ::fcntl(fd, F_GETFL);
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {  // plain blocking reads from here on
        ::close(fd);
        return FileHandle(nullptr, &std::fclose);
    }
    std::FILE* f = ::fdopen(fd, "rb");
    if (f == nullptr) ::close(fd);
    return FileHandle(f, &std::fclose);
}

// Reads the whole regular file at `path` (bytes passed on as they are) into `out`. False when
// the file cannot be opened, is not a regular file (a directory, a device or a pipe, which could
// block or deliver bytes without end), or a read fails.
bool read_whole_file(const char* path, std::string& out) {
    struct stat st {};
    FileHandle f = open_regular_file(path, st);
    if (!f) return false;
    // One byte more than the size, to see the end in one read. The size is only a hint: the
    // bytes actually read decide, and a file that grows meanwhile is read on.
    std::size_t capacity = static_cast<std::size_t>(st.st_size) + 1;
    std::size_t used = 0;
    for (;;) {
        out.resize(capacity);
        used += std::fread(out.data() + used, 1, capacity - used, f.get());
        if (used < capacity) break;  // end of file or a read error
        capacity *= 2;
    }
    out.resize(used);
    return std::ferror(f.get()) == 0;
}

// Replaces the file at `path` with `bytes`. False when it cannot be created or a write, the
// flush or the close fails.
bool write_whole_file(const char* path, const std::string& bytes) {
    std::FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fflush(f) == 0 && ok;
    ok = std::ferror(f) == 0 && ok;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

// Decodes a model and inserts it. Returns the new id, or -1 (nothing inserted).
int insert_decoded_model(const void* data, std::size_t size) {
    ShapeModelRecord rec;
    if (!decode_shape_model(data, size, rec)) return kFailed;
    return add_shape_model(std::move(rec));
}

}  // namespace
}  // namespace quro

extern "C" QURO_API int write_shape_model(int id, const char* path) {
    if (path == nullptr) return quro::kFailed;
    return quro::guarded(quro::kFailed, [&] {
        std::string bytes;
        // Encoded under the table's lock (a search may be writing its range) and before the file
        // is opened: a failure here leaves an existing file untouched.
        if (!quro::read_shape_model_locked(
                id, [&](const auto& rec) { bytes = quro::encode_shape_model(rec); }))
            return quro::kFailed;
        return quro::write_whole_file(path, bytes) ? quro::kOk : quro::kFailed;
    });
}

extern "C" QURO_API int read_shape_model(const char* path, int* id) {
    if (id == nullptr) return quro::kFailed;
    *id = -1;
    if (path == nullptr) return quro::kFailed;
    return quro::guarded(quro::kFailed, [&] {
        std::string bytes;
        if (!quro::read_whole_file(path, bytes)) return quro::kFailed;
        const int new_id = quro::insert_decoded_model(bytes.data(), bytes.size());
        if (new_id < 0) return quro::kFailed;
        *id = new_id;
        return quro::kOk;
    });
}

extern "C" QURO_API int write_shape_model_b(int id, void** buffer, int* length) {
    if (buffer == nullptr || length == nullptr) return quro::kFailed;
    *buffer = nullptr;
    *length = 0;
    return quro::guarded(quro::kFailed, [&] {
        // Encoded under the table's lock (a search may be writing its range), registered after.
        std::unique_ptr<void, decltype(&std::free)> block(nullptr, &std::free);
        std::size_t size = 0;
        if (!quro::read_shape_model_locked(id, [&](const auto& rec) {
                size = quro::encoded_shape_model_size(rec);
                if (size > static_cast<std::size_t>(INT_MAX)) return;  // not expressible in *length
                block.reset(std::malloc(size));
                if (block) quro::encode_shape_model_into(rec, block.get(), size);
            }))
            return quro::kFailed;
        if (!block) return quro::kFailed;
        const int count = static_cast<int>(size);
        const int handle = quro::register_result(quro::kResultBytes, block.get(), count);
        *buffer = block.release();
        *length = count;
        return handle;
    });
}

extern "C" QURO_API int read_shape_model_b(const void* buffer, int length, int* id) {
    if (id == nullptr) return quro::kFailed;
    *id = -1;
    if (buffer == nullptr || length < 1) return quro::kFailed;
    return quro::guarded(quro::kFailed, [&] {
        const int new_id =
            quro::insert_decoded_model(buffer, static_cast<std::size_t>(length));
        *id = new_id;
        return new_id;
    });
}
