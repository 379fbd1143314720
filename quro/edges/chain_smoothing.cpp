// Separable Gaussian smoothing of the chain detector's double image, with mirrored borders.
#include <cmath>
#include <cstdio>
#include <memory>

#include "quro/edges/chain_detector.h"

namespace quro {
namespace {

// Index k brought into [0, n) by mirroring with period 2n: ..., 1, 0 | 0, 1, ..., n-1 | n-1, ...
int mirror(int k, int n) {
    const int period = 2 * n;
    k %= period;
    if (k < 0) k += period;
    return k >= n ? period - k - 1 : k;
}

// out[x] = sum over i of kernel[i] * in[mirror(x - h + i)] for one row of n samples, terms added
// in the order of i. Inside the row the same sum runs without the index mapping.
void smooth_row(const double* in, double* out, int n, const double* kernel, int h) {
    const int len = 2 * h + 1;
    const int inner_begin = h < n ? h : n;
    const int inner_end = n - h > inner_begin ? n - h : inner_begin;
    for (int x = 0; x < inner_begin; ++x) {
        double v = 0.0;
        for (int i = 0; i < len; ++i) v += kernel[i] * in[mirror(x - h + i, n)];
        out[x] = v;
    }
    for (int x = inner_begin; x < inner_end; ++x) out[x] = 0.0;
    for (int i = 0; i < len; ++i) {
        const double k = kernel[i];
        const double* src = in - h + i;
        for (int x = inner_begin; x < inner_end; ++x) out[x] += k * src[x];
    }
    for (int x = inner_end; x < n; ++x) {
        double v = 0.0;
        for (int i = 0; i < len; ++i) v += kernel[i] * in[mirror(x - h + i, n)];
        out[x] = v;
    }
}

}  // namespace

void chain_input_error(const char* text) {
    std::fprintf(stderr, "error: %s\n", text);
    throw ChainInputError(text);
}

void gaussian_kernel(double* kernel, int n, double sigma, double mean) {
    if (kernel == nullptr) chain_input_error("gaussian_kernel: kernel not allocated");
    if (!(sigma > 0.0) || n < 1) chain_input_error("gaussian_kernel: sigma must be positive");
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double v = (i - mean) / sigma;
        kernel[i] = std::exp(-0.5 * v * v);
        sum += kernel[i];
    }
    for (int i = 0; i < n; ++i) kernel[i] /= sum;
}

int gaussian_half_size(double sigma) {
    return static_cast<int>(std::ceil(sigma * std::sqrt(6.0 * std::log(10.0))));
}

void gaussian_filter(double* image, double* scratch, int X, int Y, double sigma) {
    if (!(sigma > 0.0)) chain_input_error("gaussian_filter: sigma must be positive");
    if (X < 1 || Y < 1 || image == nullptr || scratch == nullptr)
        chain_input_error("gaussian_filter: invalid image");
    const int h = gaussian_half_size(sigma);
    const int n = 2 * h + 1;
    const std::unique_ptr<double[]> kernel(new double[static_cast<std::size_t>(n)]);
    gaussian_kernel(kernel.get(), n, sigma, h);
    const double* k = kernel.get();
    const std::size_t w = static_cast<std::size_t>(X);

    // Rows into scratch.
    for_each_row(0, Y, X, [&](int y) { smooth_row(image + y * w, scratch + y * w, X, k, h); });

    // Columns back into the image: each output row adds the kernel-weighted source rows in
    // kernel order, which is the per-pixel column sum term by term.
    for_each_row(0, Y, X, [&](int y) {
        double* out = image + y * w;
        for (int x = 0; x < X; ++x) out[x] = 0.0;
        for (int i = 0; i < n; ++i) {
            const double* src = scratch + static_cast<std::size_t>(mirror(y - h + i, Y)) * w;
            const double kv = k[i];
            for (int x = 0; x < X; ++x) out[x] += kv * src[x];
        }
    });
}

}  // namespace quro
