#include "quro/settings.h"

#include <atomic>
#include <cstring>

#include "quro/export_guard.h"
#include "quro/quro.h"

namespace quro {
namespace {
std::atomic<int> g_border_shape_models{0};
std::atomic<bool> g_print_time{true};
}  // namespace

int border_shape_models() { return g_border_shape_models.load(std::memory_order_relaxed); }
void set_border_shape_models(int value) {
    g_border_shape_models.store(value, std::memory_order_relaxed);
}
bool print_time() { return g_print_time.load(std::memory_order_relaxed); }
void set_print_time(bool on) { g_print_time.store(on, std::memory_order_relaxed); }

}  // namespace quro

extern "C" QURO_API void set_system(const char* name, int value) {
    if (name == nullptr) return;
    if (std::strcmp(name, "border_shape_models") == 0)
        quro::set_border_shape_models(value);
    else if (std::strcmp(name, "print_time") == 0)
        quro::set_print_time(value != 0);
}
