// The library's face: the program's files written from an outcome are the
// program's bytes; values without a file are checked and named; a run stops
// when another thread asks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "base/errors.hpp"
#include "experiment/experiment.hpp"
#include "experiment/files.hpp"
#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::ProgramRun;
using testing::read_file;
using testing::write_file;

struct FaceCase {
    const char* what;
    InputRecords records;
    std::optional<MultigridCycle> cycle;
};

// The program run in a folder (with --vtk and --json), and the same input
// through the face with the program's clock: every file the same bytes.
TEST(Experiment, FilesFromTheOutcomeAreTheProgramsBytes)
{
    InputRecords one_grid;
    InputRecords multigrid;
    multigrid.grid_count = "3";
    multigrid.nx = multigrid.ny = "6";
    multigrid.solver_kind = "5";
    multigrid.bc_kind = "2";
    multigrid.title = "'Placa d''água'";
    const FaceCase cases[] = {{"uma malha", one_grid, std::nullopt},
                              {"ciclo clássico", multigrid, MultigridCycle::textbook}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProgramRun program;
        write_file(input_file_name, c.records.text("\r\n"));
        program.run.options.vtk = program.run.options.record = true;
        program.run.options.cycle = c.cycle;
        program.start(true);
        ASSERT_EQ(program.error, "");

        testing::FakePlatform clock;
        clock.step = program.platform.step;
        ExperimentOptions options;
        options.cycle = c.cycle;
        options.clock = [&clock] { return clock.clock_seconds(); };
        const Outcome outcome = run_experiment(c.records.parse(), options);
        const RunStamps stamps = run_stamps(program.platform.time, outcome.input);
        const auto bytes = [&](auto write) {
            TextSink sink;
            write(sink);
            return sink.take();
        };
        EXPECT_EQ(bytes([&](ByteSink& s) { write_results_file(s, outcome, stamps); }), read_file("placa.res"));
        EXPECT_EQ(bytes([&](ByteSink& s) { write_summary_file(s, outcome, stamps); }), read_file("placa.dis"));
        EXPECT_EQ(bytes([&](ByteSink& s) { write_profile_data(s, outcome, 'x'); }), read_file("Tx.dat"));
        EXPECT_EQ(bytes([&](ByteSink& s) { write_profile_data(s, outcome, 'y'); }), read_file("Ty.dat"));
        EXPECT_EQ(profile_script("", 'y', stamps.plot_title.view()), read_file("Ty.gnu"));
        EXPECT_EQ(bytes([&](ByteSink& s) { write_vtk_file(s, outcome, stamps); }), read_file("placa.vtk"));
        EXPECT_EQ(run_record_json(run_record(outcome, read_file(input_file_name))), read_file("placa.json"));
    }
}

// Values without a file: the program's rules and texts, the value named
// instead of a file and a line.
TEST(Experiment, ValuesAreCheckedAndNamed)
{
    struct Wrong {
        void (*change)(InputValues&);
        const char* message;
    };
    const Wrong wrong[] = {
        {[](InputValues& v) { v.nx = 2; },
         "erro no valor \"número de volumes na direção X da malha 1\": 2 está fora do intervalo permitido (3 ou mais, "
         "os dois volumes fictícios incluídos)"},
        {[](InputValues& v) { v.lx = std::numeric_limits<double>::quiet_NaN(); },
         "erro no valor \"comprimento do domínio de cálculo na direção X\": \"nan\" não é um número real"},
        {[](InputValues& v) { v.experiment_name = ""; },
         "erro no valor \"nome do experimento numérico\": o nome de arquivo está em branco"},
        {[](InputValues& v) { v.title = "duas\nlinhas"; },
         "erro no valor \"título\": o texto contém um caractere de controle (byte 10)"},
        {[](InputValues& v) { v.grid_count = 40; },
         "erro no valor \"número de malhas\": com a malha 1 de 6 x 6 volumes, 40 malhas excedem o limite de 2147483647 "
         "volumes (inteiros de 32 bits); o intervalo permitido é de 1 a 14"},
    };
    for (const auto& w : wrong) {
        InputValues values = default_input_values();
        w.change(values);
        try {
            check_input_values(values);
            ADD_FAILURE() << "aceito: " << w.message;
        } catch (const FatalError& error) {
            EXPECT_STREQ(error.what(), w.message);
        }
    }
    // what the file would hold, read back to the same values, apostrophes and
    // all the digits of a real kept
    InputValues values = default_input_values();
    values.title = "Placa d'água";
    values.tolerance = 0.1 + 0.2;
    values.solver_kind = 3;
    const InputParameters checked = check_input_values(values);
    EXPECT_EQ(values_of(checked).title, values.title);
    EXPECT_EQ(checked.tolerance, values.tolerance);
    EXPECT_EQ(checked.solver(), SolverKind::sor);
    EXPECT_EQ(input_file_bytes(values_of(checked)), input_file_bytes(values));
    try {
        check_memory(checked, 1024.0, "");
        ADD_FAILURE() << "memória aceita";
    } catch (const FatalError& error) {
        EXPECT_TRUE(
            std::string(error.what())
                .starts_with("erro nos valores \"número de malhas\" e \"número de volumes\": a malha mais fina de"))
            << error.what();
    }
}

// A stop asked for from another thread ends a solution inside one long call
// of each solver, fast or plain, before its first history line; and one
// between outer iterations after the lines it has told.
TEST(Experiment, StopsWhenAnotherThreadAsks)
{
    struct Lines final : SolutionObserver {
        void history_line(std::int32_t iteration, double) override
        {
            last = iteration;
            told = true;
        }
        std::int32_t last = 0;
        std::atomic<bool> told = false;
    };
    // after_a_line: the stop asked for only once a history line is told
    // (a slow build may take longer than the first wait to build the system)
    const auto stopped_at = [](InputValues values, Kernels kernels, Lines& lines, bool after_a_line = false) {
        StopFlag stop;
        ExperimentOptions options;
        options.execution.kernels = kernels;
        options.stop_requested = stop.query();
        std::thread asker([&stop, &lines, after_a_line] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (int wait = 0; after_a_line && !lines.told && wait < 10000; ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            stop.request();
        });
        std::optional<std::int32_t> at;
        try {
            run_experiment(check_input_values(values), options, &lines);
        } catch (const SolutionStopped& s) {
            at = s.iteration;
        }
        asker.join();
        return at;
    };
    InputValues values = default_input_values();
    values.grid_count = 1;
    values.nx = values.ny = 302;
    values.msi_tolerance = 0.0;
    values.max_outer_iterations = 1;
    values.max_inner_iterations = 2000000000;
    for (const Kernels kernels : {Kernels::fast, Kernels::plain})
        for (std::int32_t solver = 1; solver <= 5; ++solver) {
            values.solver_kind = solver;
            Lines lines;
            EXPECT_EQ(stopped_at(values, kernels, lines), std::optional<std::int32_t>(0))
                << "solver " << solver << (kernels == Kernels::plain ? ", laços simples" : "");
        }
    values.max_outer_iterations = 2000000000;
    values.max_inner_iterations = 1;
    values.tolerance = 1e-300;
    Lines lines;
    const auto at = stopped_at(values, Kernels::fast, lines, true);
    ASSERT_TRUE(at);
    EXPECT_GT(*at, 0);
    EXPECT_EQ(*at, lines.last);
}

}  // namespace
}  // namespace placatermo
