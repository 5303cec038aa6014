// The memory bandwidth the bound of bench/bound.py divides by: the triad
// a = b + s c over arrays far larger than the caches, on one thread and on
// two (each thread its own half). Prints "threads GB/s" lines, the best of
// several passes, counting 24 bytes an element (two reads and a write, as
// the usual triad counts; the write-allocate read is not counted).
//   placatermo_triad [MiB per array, default 512]
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

void triad(double* a, const double* b, const double* c, std::size_t begin, std::size_t end, double s)
{
    for (std::size_t i = begin; i < end; ++i) a[i] = b[i] + s * c[i];
}

double best_gb_per_s(std::vector<double>& a, const std::vector<double>& b, const std::vector<double>& c,
                     unsigned threads)
{
    const std::size_t n = a.size();
    double best = 0.0;
    for (int pass = 0; pass < 8; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> workers;
        for (unsigned t = 1; t < threads; ++t)
            workers.emplace_back(triad, a.data(), b.data(), c.data(), n * t / threads, n * (t + 1) / threads, 3.0);
        triad(a.data(), b.data(), c.data(), 0, n / threads, 3.0);
        for (auto& w : workers) w.join();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        best = std::max(best, 24.0 * static_cast<double>(n) / seconds / 1e9);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 512;
    const std::size_t n = mib * 1024 * 1024 / sizeof(double);
    // filled before the passes, so that no pass meets a fresh page
    std::vector<double> a(n, 0.0), b(n, 1.0), c(n, 2.0);
    for (const unsigned threads : {1u, 2u}) std::printf("%u %.2f\n", threads, best_gb_per_s(a, b, c, threads));
    // a use of the result, so that no pass is left out
    return a[n / 2] == 7.0 ? 0 : 1;
}
