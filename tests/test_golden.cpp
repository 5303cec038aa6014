// Whole runs of every solver, on one grid and with multigrid, compared with
// the files stored in tests/golden byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>

#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::ProgramRun;
using testing::read_file;
using testing::write_file;

// PLACATERMO_UPDATE_GOLDEN=1 rewrites them.
struct GoldenCase {
    const char* name;
    InputRecords records;
};

InputRecords golden_records(const char* grids, const char* nx, const char* ny, const char* solver, const char* bc,
                            const char* inner, const char* tolerance)
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

class Golden : public ::testing::TestWithParam<GoldenCase> {};

TEST_P(Golden, WholeRunFiles)
{
    ProgramRun p;
    write_file("placatermo.ent", GetParam().records.text("\r\n"));
    p.start(true);
    ASSERT_EQ(p.error, "");
    const std::filesystem::path stored =
        std::filesystem::path(PLACATERMO_SOURCE_DIR) / "tests" / "golden" / GetParam().name;
    const bool update = std::getenv("PLACATERMO_UPDATE_GOLDEN") != nullptr;
    if (update) std::filesystem::create_directories(stored);
    for (const char* file : {"caso.res", "caso.dis", "Tx.dat", "Ty.dat", "Tx.gnu"}) {
        if (update) write_file(stored / file, read_file(file));
        EXPECT_EQ(read_file(file), read_file(stored / file)) << GetParam().name << ": " << file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Golden,
    ::testing::Values(GoldenCase{"jacobi_single", golden_records("1", "9", "8", "1", "2", "4", "1e-5")},
                      GoldenCase{"gauss_seidel_single", golden_records("1", "7", "6", "2", "1", "3", "1e-8")},
                      GoldenCase{"sor_single", golden_records("1", "10", "10", "3", "1", "2", "1e-9")},
                      GoldenCase{"adi_single", golden_records("1", "12", "9", "4", "2", "1", "1e-10")},
                      GoldenCase{"msi_single", golden_records("1", "10", "7", "5", "2", "6", "1e-11")},
                      GoldenCase{"jacobi_multi", golden_records("3", "4", "5", "1", "1", "3", "1e-6")},
                      GoldenCase{"gauss_seidel_multi", golden_records("4", "3", "4", "2", "2", "2", "1e-7")},
                      GoldenCase{"sor_multi", golden_records("2", "5", "4", "3", "1", "2", "1e-8")},
                      GoldenCase{"adi_multi", golden_records("3", "5", "5", "4", "2", "1", "1e-9")},
                      GoldenCase{"msi_multi", golden_records("4", "3", "3", "5", "1", "2", "1e-10")},
                      GoldenCase{"no_solver_multi", golden_records("2", "4", "4", "7", "1", "2", "1e-6")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace placatermo
