// The transfers between the grids of the multigrid cycle: the residual stored
// on a grid, its injection into the next coarser grid, and the bilinear
// interpolation of a coarse correction onto the next finer grid.
#include <algorithm>
#include <cmath>
#include <variant>
#include <vector>

#include "base/execution.hpp"
#include "base/second_thread.hpp"
#include "drivers/drivers.hpp"
#include "grid/linear_system.hpp"

namespace placatermo {

namespace {

// Runs rows(first, last) over rows first ... last - 1 of a pass whose rows
// are independent of each other: on large grids in two halves, the upper one
// on the execution's second thread, since a pass that streams through memory
// gains the second core's bandwidth. Each entry gets the same bits either way.
template <typename Rows>
void by_rows(const Execution& execution, std::int64_t nx, std::int64_t first, std::int64_t last, Rows rows)
{
    if (!execution.two_threads_for(execution.two_thread_sizes.streaming, nx, last - first)) return rows(first, last);
    const std::int64_t middle = first + (last - first) / 2;
    HelperJob upper(*execution.second_thread, [&] { rows(middle, last); });
    rows(first, middle);
    upper.join();
}

}  // namespace

void store_residual_plain(const CoefficientTable& system, std::span<const double> u_values, std::span<double> residual)
{
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const Coefficients<const double> c(system.a, system.volume_count);
    const From1<const double> b(system.b);
    const From1<const double> u(u_values);
    const From1<double> r(residual);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const std::int64_t p = volume_number(i, j, nx);
            r(p) = b(p) - (c.as(p) * u(p - nx) + c.ap(p) * u(p) + c.aw(p) * u(p - 1) + c.ae(p) * u(p + 1) +
                           c.an(p) * u(p + nx));
        }
    }
}

void store_residual(const CoefficientTable& system, std::span<const double> u, std::span<double> residual,
                    const Execution&)
{
    store_residual_plain(system, u, residual);
}

// With the stencil in registers, only u and b are read.
void store_residual(const UniformStencil& system, std::span<const double> u, std::span<double> residual,
                    const Execution& execution)
{
    const Stencil& c = system.interior;
    const std::int64_t nx = system.nx;
    const std::int64_t ny = system.ny;
    const double* t = u.data();
    const double* b = system.b.data();
    double* r = residual.data();
    with_rhs_inside(system.rhs_inside, [&](auto rhs) {
        by_rows(execution, nx, 1, ny - 1, [&](std::int64_t first, std::int64_t last) {
            for (std::int64_t j = first; j < last; ++j)
                for (std::int64_t q = j * nx + 1; q < (j + 1) * nx - 1; ++q)
                    r[q] = volume_residual<decltype(rhs)::value>(c, b, t, q, nx);
        });
    });
}

void store_residual(const LinearSystem& system, std::span<const double> u, std::span<double> residual,
                    const Execution& execution)
{
    std::visit([&](const auto& form) { store_residual(form, u, residual, execution); }, system);
}

void restrict_residual(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx_,
                       std::span<const double> fine_residual, std::span<double> b_values)
{
    const std::int64_t nx = coarse_nx;
    const std::int64_t ny = coarse_ny;
    const std::int64_t fine_nx = fine_nx_;
    std::fill(b_values.begin(), b_values.end(), 0.0);
    const From1<double> b(b_values);
    const From1<const double> fine(fine_residual);
    for (std::int64_t j = 2; j <= ny - 1; ++j)  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i)
            b(volume_number(i, j, nx)) = fine((2 * i - 1) + (2 * j - 2) * fine_nx);
}

namespace {

// Adds an interpolated value to a fine correction entry.
struct AddToCorrection {
    void operator()(double& fine, double value) const { fine = fine + value; }
};
// Adds it to t, as a correction zeroed, then interpolated into, then added to
// t would: the zero's addition is kept (0 + -0 is +0), and so is the
// addition of the zero of every ghost entry (-0 + 0 is +0).
struct AddToField {
    void operator()(double& t, double value) const { t = t + (0.0 + value); }
};

void add_zero_to_ghosts(std::int64_t nx, std::int64_t ny, std::span<double> t)
{
    double* row = t.data();
    for (std::int64_t i = 0; i < nx; ++i) row[i] = row[i] + 0.0;
    for (std::int64_t j = 1; j < ny - 1; ++j) {
        row = t.data() + j * nx;
        row[0] = row[0] + 0.0;
        row[nx - 1] = row[nx - 1] + 0.0;
    }
    row = t.data() + (ny - 1) * nx;
    for (std::int64_t i = 0; i < nx; ++i) row[i] = row[i] + 0.0;
}

template <typename Add>
void prolongate_injected(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                         std::span<const double> coarse_correction, std::span<double> fine_correction, Add add)
{
    const std::int64_t nx = fine_nx;
    const std::int64_t ny = fine_ny;
    const std::int64_t nxc = coarse_nx;
    const From1<const double> c(coarse_correction);
    const From1<double> fine(fine_correction);
    for (std::int64_t j = 2; j <= ny - 1; ++j) {  // every entry on its own: rows in memory order
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            const std::int64_t ic = (i - 1) / 2 + 1;
            const std::int64_t jc = (j - 1) / 2 + 1;
            const std::int64_t pc = ic + (jc - 1) * nxc;
            const bool odd_i = i % 2 == 1;
            const bool odd_j = j % 2 == 1;
            double value;
            if (odd_i && odd_j)
                value = c(pc);
            else if (odd_j)
                value = 0.5 * (c(pc) + c(pc + 1));
            else if (odd_i)
                value = 0.5 * (c(pc) + c(pc + nxc));
            else
                value = 0.25 * (((c(pc) + c(pc + 1)) + c(pc + nxc)) + c(pc + nxc + 1));
            add(fine(volume_number(i, j, nx)), value);
        }
    }
}

}  // namespace

namespace {

// One real coarse row j of the textbook restriction: b of its real volumes
// from the residuals b - a u of the four fine volumes each covers, computed
// as store_residual computes them (residual(q) for entry q). With row_norms,
// also the sum of |residual| of each of the two fine rows into row_norms[fine
// row], over its even and odd columns apart (four chains of additions in
// flight), the two then added.
template <typename Residual>
void restrict_row(std::int64_t nx, std::int64_t fine_nx, std::int64_t j, double* b, Residual residual,
                  double* row_norms)
{
    double south_even = 0.0, south_odd = 0.0, north_even = 0.0, north_odd = 0.0;
    // the two fine rows' residuals first, a stretch at a time, in loops over
    // neighbouring entries that the compiler makes vector operations of
    constexpr std::int64_t stretch = 128;  // coarse volumes
    double south[2 * stretch], north[2 * stretch];
    for (std::int64_t i0 = 2; i0 <= nx - 1; i0 += stretch) {
        const std::int64_t count = std::min(stretch, nx - i0);
        const std::int64_t sw = volume_number(2 * i0 - 2, 2 * j - 2, fine_nx) - 1;
        for (std::int64_t m = 0; m < 2 * count; ++m) south[m] = residual(sw + m);
        for (std::int64_t m = 0; m < 2 * count; ++m) north[m] = residual(sw + fine_nx + m);
        double* b_row = b + volume_number(i0, j, nx) - 1;
        for (std::int64_t m = 0; m < count; ++m) {
            const double r_sw = south[2 * m], r_se = south[2 * m + 1];
            const double r_nw = north[2 * m], r_ne = north[2 * m + 1];
            b_row[m] = ((r_sw + r_se) + r_nw) + r_ne;
            if (row_norms == nullptr) continue;
            south_even = south_even + std::fabs(r_sw);
            south_odd = south_odd + std::fabs(r_se);
            north_even = north_even + std::fabs(r_nw);
            north_odd = north_odd + std::fabs(r_ne);
        }
    }
    if (row_norms == nullptr) return;
    row_norms[2 * j - 2] = south_even + south_odd;
    row_norms[2 * j - 1] = north_even + north_odd;
}

// The textbook restriction of the whole grid: b of the real coarse volumes,
// zero elsewhere.
template <typename Residual>
void restrict_sum_of(const Execution& execution, std::int64_t nx, std::int64_t ny, std::int64_t fine_nx,
                     std::span<double> b_values, Residual residual, double* row_norms = nullptr)
{
    std::fill(b_values.begin(), b_values.end(), 0.0);
    double* b = b_values.data();
    by_rows(execution, fine_nx, 2, ny, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t j = first; j < last; ++j) restrict_row(nx, fine_nx, j, b, residual, row_norms);
    });
}

// restrict_sum_of with a residual(q) made for each form of the fine system.
template <typename F>
void with_residual_of(const CoefficientTable& fine, std::span<const double> u, F f)
{
    const std::int64_t nx = fine.nx;
    const std::int64_t n = fine.volume_count;
    const double* a = fine.a.data();
    const double* fb = fine.b.data();
    const double* t = u.data();
    f([&](std::int64_t q) { return volume_residual(a, n, fb, t, q, nx); });
}
template <typename F>
void with_residual_of(const UniformStencil& fine, std::span<const double> u, F f)
{
    const Stencil c = fine.interior;
    const std::int64_t nx = fine.nx;
    const double* fb = fine.b.data();
    const double* t = u.data();
    with_rhs_inside(fine.rhs_inside, [&](auto rhs) {
        constexpr RhsInside R = decltype(rhs)::value;
        if (unit_neighbours(c))
            f([&](std::int64_t q) { return volume_residual<R, true>(c, fb, t, q, nx); });
        else
            f([&](std::int64_t q) { return volume_residual<R>(c, fb, t, q, nx); });
    });
}

}  // namespace

void restrict_residual_sum_of(const CoefficientTable& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution)
{
    with_residual_of(fine, u,
                     [&](auto residual) { restrict_sum_of(execution, coarse_nx, coarse_ny, fine.nx, b, residual); });
}

void restrict_residual_sum_of(const UniformStencil& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution)
{
    with_residual_of(fine, u,
                     [&](auto residual) { restrict_sum_of(execution, coarse_nx, coarse_ny, fine.nx, b, residual); });
}

void restrict_residual_sum_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                              std::int32_t coarse_ny, std::span<double> b, const Execution& execution)
{
    std::visit([&](const auto& form) { restrict_residual_sum_of(form, u, coarse_nx, coarse_ny, b, execution); }, fine);
}

void restrict_residual_sum_row_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                                  std::int32_t coarse_ny, std::span<double> b, std::int32_t row,
                                  std::span<double> row_norms)
{
    const std::int64_t nx = coarse_nx;
    double* b_row = b.data() + (row - 1) * nx;
    if (row == 1 || row == coarse_ny) return std::fill(b_row, b_row + nx, 0.0);
    b_row[0] = 0.0;
    b_row[nx - 1] = 0.0;
    std::visit(
        [&](const auto& form) {
            with_residual_of(form, u, [&](auto residual) {
                restrict_row(nx, form.nx, row, b.data(), residual, row_norms.data());
            });
        },
        fine);
}

double restrict_residual_sum_and_norm_of(const LinearSystem& fine, std::span<const double> u, std::int32_t coarse_nx,
                                         std::int32_t coarse_ny, std::span<double> b, const Execution& execution)
{
    const SystemArrays& arrays = arrays_of(fine);
    std::vector<double> row_norms(static_cast<std::size_t>(arrays.ny), 0.0);
    std::visit(
        [&](const auto& form) {
            with_residual_of(form, u, [&](auto residual) {
                restrict_sum_of(execution, coarse_nx, coarse_ny, arrays.nx, b, residual, row_norms.data());
            });
        },
        fine);
    double norm = 0.0;
    for (std::int64_t j = 2; j <= arrays.ny - 1; ++j) norm = norm + row_norms[static_cast<std::size_t>(j)];
    return norm;
}

void prolongate_correction(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx, std::int32_t,
                           std::span<const double> coarse_correction, std::span<double> fine_correction)
{
    prolongate_injected(fine_nx, fine_ny, coarse_nx, coarse_correction, fine_correction, AddToCorrection());
}

void prolongate_correction_to_field(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx, std::int32_t,
                                    std::span<const double> coarse_correction, std::span<double> t)
{
    prolongate_injected(fine_nx, fine_ny, coarse_nx, coarse_correction, t, AddToField());
    add_zero_to_ghosts(fine_nx, fine_ny, t);
}

void restrict_residual_sum(std::int32_t coarse_nx, std::int32_t coarse_ny, std::int32_t fine_nx_,
                           std::span<const double> fine_residual, std::span<double> b_values,
                           const Execution& execution)
{
    const std::int64_t nx = coarse_nx;
    const std::int64_t ny = coarse_ny;
    const std::int64_t fine_nx = fine_nx_;
    std::fill(b_values.begin(), b_values.end(), 0.0);
    const From1<double> b(b_values);
    const From1<const double> fine(fine_residual);
    by_rows(execution, fine_nx, 2, ny, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t j = first; j < last; ++j) {
            for (std::int64_t i = 2; i <= nx - 1; ++i) {
                // the four fine volumes that coarse volume (i, j) covers
                const std::int64_t sw = volume_number(2 * i - 2, 2 * j - 2, fine_nx);
                b(volume_number(i, j, nx)) = ((fine(sw) + fine(sw + 1)) + fine(sw + fine_nx)) + fine(sw + fine_nx + 1);
            }
        }
    });
}

namespace {

// With Fast, the fine volumes whose four coarse neighbours are all real read
// them straight from the rows (the mirror's sign, 1, left out: the
// corrections are results of arithmetic, never signalling NaNs, so 1 x c is
// c); the others, and every volume of the plain loop, take `at`.
template <bool Fast, typename Add>
void prolongate_bilinear(const Execution& execution, std::int32_t fine_nx, std::int32_t fine_ny,
                         std::int32_t coarse_nx_, std::int32_t coarse_ny_, std::span<const double> coarse_correction,
                         std::span<double> fine_correction, Add add, std::int64_t first_row = 2,
                         std::int64_t last_row = -1)
{
    const std::int64_t nx = fine_nx;
    const std::int64_t ny = fine_ny;
    const std::int64_t nxc = coarse_nx_;
    const std::int64_t nyc = coarse_ny_;
    const From1<const double> c(coarse_correction);
    const From1<double> fine(fine_correction);
    // The correction at a coarse volume; beyond the real ones the mirror
    // image, which is zero on the plate's sides (the correction equations have
    // homogeneous Dirichlet conditions there).
    const auto at = [&](std::int64_t i, std::int64_t j) {
        double sign = 1.0;
        if (i == 1 || i == nxc) {
            i = i == 1 ? 2 : nxc - 1;
            sign = -sign;
        }
        if (j == 1 || j == nyc) {
            j = j == 1 ? 2 : nyc - 1;
            sign = -sign;
        }
        return sign * c(volume_number(i, j, nxc));
    };
    const auto volume = [&](std::int64_t i, std::int64_t j, std::int64_t jc, std::int64_t jn) {
        const std::int64_t ic = i / 2 + 1;
        const std::int64_t in = i % 2 == 0 ? ic - 1 : ic + 1;
        const double value = 0.5625 * at(ic, jc) + 0.1875 * at(in, jc) + 0.1875 * at(ic, jn) + 0.0625 * at(in, jn);
        add(fine(volume_number(i, j, nx)), value);
    };
    // two fine columns to a coarse one, as the hierarchy has them
    const bool paired_columns = nx % 2 == 0 && nxc == nx / 2 + 1 && nx >= 6;
    const auto fine_row = [&](std::int64_t j) {
        // fine row j lies in coarse row jc, a quarter of a coarse volume from
        // its centre towards the row jn
        const std::int64_t jc = j / 2 + 1;
        const std::int64_t jn = j % 2 == 0 ? jc - 1 : jc + 1;
        const bool real_rows = jc >= 2 && jc <= nyc - 1 && jn >= 2 && jn <= nyc - 1;
        if (!Fast || !real_rows || !paired_columns) {
            for (std::int64_t i = 2; i <= nx - 1; ++i) volume(i, j, jc, jn);
            return;
        }
        // fine columns 3 ... nx - 2 have real coarse columns ic and in
        volume(2, j, jc, jn);
        const double* pc = coarse_correction.data() + (jc - 1) * nxc - 1;  // pc[ic]: column ic of row jc
        const double* pn = coarse_correction.data() + (jn - 1) * nxc - 1;
        double* f = fine_correction.data() + (j - 1) * nx - 1;
        // fine column 2m lies in coarse column m + 1 towards m, and 2m + 1
        // towards m + 2: the pair reads three neighbouring coarse columns
        add(f[3], 0.5625 * pc[2] + 0.1875 * pc[3] + 0.1875 * pn[2] + 0.0625 * pn[3]);
        for (std::int64_t m = 2; 2 * m + 1 <= nx - 3; ++m) {
            add(f[2 * m], 0.5625 * pc[m + 1] + 0.1875 * pc[m] + 0.1875 * pn[m + 1] + 0.0625 * pn[m]);
            add(f[2 * m + 1], 0.5625 * pc[m + 1] + 0.1875 * pc[m + 2] + 0.1875 * pn[m + 1] + 0.0625 * pn[m + 2]);
        }
        const std::int64_t last = nx - 2;  // even
        add(f[last],
            0.5625 * pc[last / 2 + 1] + 0.1875 * pc[last / 2] + 0.1875 * pn[last / 2 + 1] + 0.0625 * pn[last / 2]);
        volume(nx - 1, j, jc, jn);
    };
    const std::int64_t end = last_row < 0 ? ny - 1 : std::min(last_row, ny - 1);
    first_row = std::max<std::int64_t>(first_row, 2);
    if (!Fast) {
        for (std::int64_t j = first_row; j <= end; ++j) fine_row(j);
        return;
    }
    by_rows(execution, nx, first_row, end + 1, [&](std::int64_t first, std::int64_t last) {
        for (std::int64_t j = first; j < last; ++j) fine_row(j);
    });
}

// The plain loop on the plain execution, the fast one otherwise: a branch
// here, not per volume.
template <typename Add>
void prolongate_bilinear_as(const Execution& execution, std::int32_t fine_nx, std::int32_t fine_ny,
                            std::int32_t coarse_nx, std::int32_t coarse_ny, std::span<const double> coarse_correction,
                            std::span<double> fine_correction, Add add)
{
    if (execution.plain())
        prolongate_bilinear<false>(execution, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction,
                                   fine_correction, add);
    else
        prolongate_bilinear<true>(execution, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction, fine_correction,
                                  add);
}

}  // namespace

void prolongate_correction_bilinear(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                    std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                    std::span<double> fine_correction, const Execution& execution)
{
    prolongate_bilinear_as(execution, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction, fine_correction,
                           AddToCorrection());
}

void prolongate_correction_bilinear_row(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                        std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                        std::span<double> fine_correction, std::int32_t row)
{
    prolongate_bilinear<true>(Execution{}, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction, fine_correction,
                              AddToCorrection(), row, row);
}

void prolongate_correction_bilinear_to_field_row(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                                 std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                                 std::span<double> t, std::int32_t row)
{
    const std::int64_t nx = fine_nx;
    double* entries = t.data() + (row - 1) * nx;
    if (row == 1 || row == fine_ny) {
        for (std::int64_t i = 0; i < nx; ++i) entries[i] = entries[i] + 0.0;
        return;
    }
    entries[0] = entries[0] + 0.0;
    entries[nx - 1] = entries[nx - 1] + 0.0;
    prolongate_bilinear<true>(Execution{}, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction, t, AddToField(),
                              row, row);
}

void prolongate_correction_bilinear_to_field(std::int32_t fine_nx, std::int32_t fine_ny, std::int32_t coarse_nx,
                                             std::int32_t coarse_ny, std::span<const double> coarse_correction,
                                             std::span<double> t, const Execution& execution)
{
    prolongate_bilinear_as(execution, fine_nx, fine_ny, coarse_nx, coarse_ny, coarse_correction, t, AddToField());
    add_zero_to_ghosts(fine_nx, fine_ny, t);
}

}  // namespace placatermo
