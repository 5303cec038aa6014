// The fast Poisson solver the textbook job races in bench/bound.py: the
// plate's five-point system on n x n real volumes (lx = ly = 1, the
// sinusoidal condition), solved directly by FFTW's sine transforms.
//
// The system is the program's with the ghost volumes eliminated (as
// bench/petsc_plate.py assembles it): a ghost is its boundary row's value g
// minus its real neighbour, so a real volume on a face gets one more
// neighbour coefficient on its diagonal and that coefficient times g on its
// right-hand side; only the north ghosts have g = 2 sin(pi x), x at the
// volume's centre. The reflection u_ghost = -u_real (g = 0) is the one of the
// cell-centred sines sin(pi k (i - 1/2) / n): DST-II (RODFT10) takes the
// right-hand side to them, each amplitude is divided by its eigenvalue
// ew (2 - 2 cos(pi kx / n)) + sn (2 - 2 cos(pi ky / n)), and DST-III
// (RODFT01) takes it back; the pair scales by (2n)^2.
//
// Prints "N THREADS first_solve_seconds relative_residual": the first solve
// is allocation, fill, plan (FFTW_ESTIMATE) and solve in this fresh process;
// the residual of the system, computed afterwards, is outside it. Reads and
// writes no file. Exits non-zero when the residual is above 1e-10.
//   placatermo_fftw N THREADS
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fftw3.h>
#include <numbers>

namespace {

constexpr double lx = 1.0;
constexpr double ly = 1.0;

// The north ghost's boundary value g of volume i (from 0), as the program
// computes it: x from dx/2, sin((x pi) / lx) 2.
double north_ghost(long i, double dx)
{
    const double x = static_cast<double>(i) * dx + 0.5 * dx;
    return std::sin((x * std::numbers::pi) / lx) * 2.0;
}

// ||b - A u|| / ||b|| over the real volumes, each row as the program writes
// it, the ghost neighbours from their rows (g - u); b is what moves to the
// right-hand side, sn g on the north row.
double relative_residual(const double* u, long n, double dx, double ew, double sn)
{
    double rr = 0.0;
    double bb = 0.0;
    for (long j = 0; j < n; ++j)
        for (long i = 0; i < n; ++i) {
            const double p = u[j * n + i];
            const double g = j == n - 1 ? north_ghost(i, dx) : 0.0;
            const double west = i > 0 ? u[j * n + i - 1] : -p;
            const double east = i < n - 1 ? u[j * n + i + 1] : -p;
            const double south = j > 0 ? u[(j - 1) * n + i] : -p;
            const double north = j < n - 1 ? u[(j + 1) * n + i] : g - p;
            const double r = (2.0 * ew + 2.0 * sn) * p - ew * (west + east) - sn * (south + north);
            rr += r * r;
            bb += (sn * g) * (sn * g);
        }
    return std::sqrt(rr / bb);
}

}  // namespace

int main(int argc, char** argv)
{
    const long n = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 0;
    const int threads = argc > 2 ? static_cast<int>(std::strtol(argv[2], nullptr, 10)) : 0;
    if (argc != 3 || n < 2 || n > 65536 || threads < 1 || threads > 64) {
        std::fprintf(stderr, "uso: placatermo_fftw N THREADS (N volumes reais por direção, 1 ou mais threads)\n");
        return 2;
    }
    const auto start = std::chrono::steady_clock::now();

    const double dx = lx / static_cast<double>(n);
    const double dy = ly / static_cast<double>(n);
    const double ew = dy / dx;  // the program's interior coefficients, negated
    const double sn = dx / dy;
    const auto count = static_cast<std::size_t>(n) * static_cast<std::size_t>(n);
    double* u = fftw_alloc_real(count);
    double* eigen = fftw_alloc_real(static_cast<std::size_t>(n));
    if (u == nullptr || eigen == nullptr) {
        std::fprintf(stderr, "placatermo_fftw: sem memória para %ld x %ld volumes\n", n, n);
        return 1;
    }
    for (std::size_t p = 0; p < count - static_cast<std::size_t>(n); ++p) u[p] = 0.0;
    for (long i = 0; i < n; ++i) u[(n - 1) * n + i] = sn * north_ghost(i, dx);
    for (long k = 0; k < n; ++k)
        eigen[k] = 2.0 - 2.0 * std::cos(std::numbers::pi * static_cast<double>(k + 1) / static_cast<double>(n));

    if (fftw_init_threads() == 0) {
        std::fprintf(stderr, "placatermo_fftw: as threads do FFTW não iniciaram\n");
        return 1;
    }
    fftw_plan_with_nthreads(threads);
    const int size = static_cast<int>(n);
    const fftw_plan forward = fftw_plan_r2r_2d(size, size, u, u, FFTW_RODFT10, FFTW_RODFT10, FFTW_ESTIMATE);
    const fftw_plan back = fftw_plan_r2r_2d(size, size, u, u, FFTW_RODFT01, FFTW_RODFT01, FFTW_ESTIMATE);

    fftw_execute(forward);
    const double scale = 4.0 * static_cast<double>(n) * static_cast<double>(n);
    for (long ky = 0; ky < n; ++ky)
        for (long kx = 0; kx < n; ++kx) u[ky * n + kx] /= (ew * eigen[kx] + sn * eigen[ky]) * scale;
    fftw_execute(back);

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double residual = relative_residual(u, n, dx, ew, sn);
    std::printf("%ld %d %.4f %.2e\n", n, threads, seconds, residual);
    fftw_destroy_plan(forward);
    fftw_destroy_plan(back);
    fftw_free(eigen);
    fftw_free(u);
    fftw_cleanup_threads();
    return residual <= 1e-10 ? 0 : 1;
}
