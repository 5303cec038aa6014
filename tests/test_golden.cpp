// Whole runs of every solver, on one grid and with multigrid, compared with
// the files stored in tests/golden byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::ProgramRun;
using testing::read_file;
using testing::write_file;

// One stored run: its folder in tests/golden, the records that differ
// between the cases and the cycle option (none: the option not given).
struct GoldenCase {
    const char* name;
    const char* grids;
    const char* nx;
    const char* ny;
    const char* solver;
    const char* bc;
    const char* inner;
    const char* tolerance;
    std::optional<MultigridCycle> cycle = std::nullopt;

    InputRecords records() const
    {
        InputRecords r;
        r.experiment_name = "caso.res";
        r.discretization_file_name = "caso.dis";
        r.grid_count = grids;
        r.nx = nx;
        r.ny = ny;
        r.solver_kind = solver;
        r.bc_kind = bc;
        r.max_inner_iterations = inner;
        r.tolerance = tolerance;
        r.max_outer_iterations = "300";
        r.msi_tolerance = "1.0d-2";
        r.sor_relaxation = "1.6";
        r.lx = "1.5";
        r.ly = "0.8";
        r.title = std::string("'Caso ") + solver + " com " + grids + " malhas'";
        return r;
    }
};

class Golden : public ::testing::TestWithParam<GoldenCase> {};

// PLACATERMO_ADD_GOLDEN=1 stores the files of a new case (or a file newly
// compared); a file already stored is never written over.
TEST_P(Golden, WholeRunFiles)
{
    const GoldenCase& golden = GetParam();
    ProgramRun p;
    write_file("placatermo.ent", golden.records().text("\r\n"));
    p.run.options.cycle = golden.cycle;
    p.start(true);
    ASSERT_EQ(p.error, "");
    const std::filesystem::path stored =
        std::filesystem::path(PLACATERMO_SOURCE_DIR) / "tests" / "golden" / golden.name;
    const bool add = std::getenv("PLACATERMO_ADD_GOLDEN") != nullptr;
    for (const char* file : {"caso.res", "caso.dis", "Tx.dat", "Ty.dat", "Tx.gnu", "Ty.gnu"}) {
        if (add && !std::filesystem::exists(stored / file)) {
            std::filesystem::create_directories(stored);
            write_file(stored / file, read_file(file));
        }
        EXPECT_EQ(read_file(file), read_file(stored / file)) << golden.name << ": " << file;
    }
}

constexpr auto textbook = MultigridCycle::textbook;

INSTANTIATE_TEST_SUITE_P(Runs, Golden,
                         ::testing::Values(GoldenCase{.name = "jacobi_single",
                                                      .grids = "1",
                                                      .nx = "9",
                                                      .ny = "8",
                                                      .solver = "1",
                                                      .bc = "2",
                                                      .inner = "4",
                                                      .tolerance = "1e-5"},
                                           GoldenCase{.name = "gauss_seidel_single",
                                                      .grids = "1",
                                                      .nx = "7",
                                                      .ny = "6",
                                                      .solver = "2",
                                                      .bc = "1",
                                                      .inner = "3",
                                                      .tolerance = "1e-8"},
                                           GoldenCase{.name = "sor_single",
                                                      .grids = "1",
                                                      .nx = "10",
                                                      .ny = "10",
                                                      .solver = "3",
                                                      .bc = "1",
                                                      .inner = "2",
                                                      .tolerance = "1e-9"},
                                           GoldenCase{.name = "adi_single",
                                                      .grids = "1",
                                                      .nx = "12",
                                                      .ny = "9",
                                                      .solver = "4",
                                                      .bc = "2",
                                                      .inner = "1",
                                                      .tolerance = "1e-10"},
                                           GoldenCase{.name = "msi_single",
                                                      .grids = "1",
                                                      .nx = "10",
                                                      .ny = "7",
                                                      .solver = "5",
                                                      .bc = "2",
                                                      .inner = "6",
                                                      .tolerance = "1e-11"},
                                           GoldenCase{.name = "jacobi_multi",
                                                      .grids = "3",
                                                      .nx = "4",
                                                      .ny = "5",
                                                      .solver = "1",
                                                      .bc = "1",
                                                      .inner = "3",
                                                      .tolerance = "1e-6"},
                                           GoldenCase{.name = "gauss_seidel_multi",
                                                      .grids = "4",
                                                      .nx = "3",
                                                      .ny = "4",
                                                      .solver = "2",
                                                      .bc = "2",
                                                      .inner = "2",
                                                      .tolerance = "1e-7"},
                                           GoldenCase{.name = "sor_multi",
                                                      .grids = "2",
                                                      .nx = "5",
                                                      .ny = "4",
                                                      .solver = "3",
                                                      .bc = "1",
                                                      .inner = "2",
                                                      .tolerance = "1e-8"},
                                           GoldenCase{.name = "adi_multi",
                                                      .grids = "3",
                                                      .nx = "5",
                                                      .ny = "5",
                                                      .solver = "4",
                                                      .bc = "2",
                                                      .inner = "1",
                                                      .tolerance = "1e-9"},
                                           GoldenCase{.name = "msi_multi",
                                                      .grids = "4",
                                                      .nx = "3",
                                                      .ny = "3",
                                                      .solver = "5",
                                                      .bc = "1",
                                                      .inner = "2",
                                                      .tolerance = "1e-10"},
                                           GoldenCase{.name = "no_solver_multi",
                                                      .grids = "2",
                                                      .nx = "4",
                                                      .ny = "4",
                                                      .solver = "7",
                                                      .bc = "1",
                                                      .inner = "2",
                                                      .tolerance = "1e-6"},
                                           // the textbook cycle, one case per solver
                                           GoldenCase{.name = "jacobi_textbook",
                                                      .grids = "3",
                                                      .nx = "5",
                                                      .ny = "4",
                                                      .solver = "1",
                                                      .bc = "2",
                                                      .inner = "3",
                                                      .tolerance = "1e-7",
                                                      .cycle = textbook},
                                           GoldenCase{.name = "gauss_seidel_textbook",
                                                      .grids = "4",
                                                      .nx = "3",
                                                      .ny = "4",
                                                      .solver = "2",
                                                      .bc = "1",
                                                      .inner = "2",
                                                      .tolerance = "1e-9",
                                                      .cycle = textbook},
                                           GoldenCase{.name = "sor_textbook",
                                                      .grids = "3",
                                                      .nx = "4",
                                                      .ny = "4",
                                                      .solver = "3",
                                                      .bc = "2",
                                                      .inner = "2",
                                                      .tolerance = "1e-8",
                                                      .cycle = textbook},
                                           GoldenCase{.name = "adi_textbook",
                                                      .grids = "3",
                                                      .nx = "5",
                                                      .ny = "5",
                                                      .solver = "4",
                                                      .bc = "1",
                                                      .inner = "1",
                                                      .tolerance = "1e-9",
                                                      .cycle = textbook},
                                           GoldenCase{.name = "msi_textbook",
                                                      .grids = "4",
                                                      .nx = "3",
                                                      .ny = "3",
                                                      .solver = "5",
                                                      .bc = "2",
                                                      .inner = "2",
                                                      .tolerance = "1e-10",
                                                      .cycle = textbook},
                                           // the fast cycle: red-black Gauss-Seidel, and MSI on its tables
                                           GoldenCase{.name = "gauss_seidel_fast",
                                                      .grids = "4",
                                                      .nx = "4",
                                                      .ny = "3",
                                                      .solver = "2",
                                                      .bc = "2",
                                                      .inner = "2",
                                                      .tolerance = "1e-9",
                                                      .cycle = MultigridCycle::fast},
                                           GoldenCase{.name = "msi_fast",
                                                      .grids = "3",
                                                      .nx = "4",
                                                      .ny = "4",
                                                      .solver = "5",
                                                      .bc = "1",
                                                      .inner = "3",
                                                      .tolerance = "1e-10",
                                                      .cycle = MultigridCycle::fast}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace placatermo
