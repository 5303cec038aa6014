// The record of a run: what a run computed, as JSON, for programs and for the
// study table. Every real reads back to the same double.
#pragma once

#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "results/convergence.hpp"

namespace placatermo {

struct RunRecord {
    std::string program_version;
    // the input's bytes, hashed (FNV-1a, 64 bits, in hex): a record belongs
    // to the input it was computed from
    std::string input_hash;
    // the 16 records of the input; texts as UTF-8
    std::string experiment_name, discretization_file_name, iterations_file_name, title;
    double lx = 0.0, ly = 0.0, tolerance = 0.0, msi_tolerance = 0.0, sor_relaxation = 0.0;
    std::int32_t grid_count = 0, max_outer_iterations = 0, solver_kind = 0, max_inner_iterations = 0, bc_kind = 0;
    std::string solver;                          // its name
    std::string cycle;                           // the multigrid cycle; empty on one grid
    std::vector<std::int32_t> grid_nx, grid_ny;  // every grid, coarsest first
    std::vector<double> history;                 // the ratio of every outer iteration
    // of the history against the tolerance; a record written before it was
    // kept gets it from its history when read
    ConvergenceFactor convergence;
    std::int32_t iterations = 0;
    bool converged = false;
    double mean_numerical = 0.0, mean_analytical = 0.0, rate_numerical = 0.0, rate_analytical = 0.0;
    double error_l1 = 0.0, error_l2 = 0.0, error_max = 0.0;
    double seconds = 0.0;
    std::string status = "completa";
};

// The first fields of the program's JSON files (a record, a study's
// design): what the file is, the version of its layout, the program.
inline constexpr const char* json_format_key = "formato";
inline constexpr const char* json_format_version_key = "versao_formato";
inline constexpr const char* json_program_key = "programa";

// When the study table shows a field of the record (a whole number only
// when it is above 0).
enum class RecordColumn {
    none,           // not in the table
    always,         // whenever the run's files give it
    once_iterated,  // when the run made an outer iteration
    when_complete,  // when the row is complete
    row_status,     // the row's status (what became of the run) in its place
};

// A field of the record: its JSON key, the object it stands in (none: the
// top), its column in the study table, and whether records written before
// the field was kept lack it (then read from the history).
struct RecordField {
    const char* key;
    const char* within = nullptr;
    const char* column = nullptr;
    RecordColumn shown = RecordColumn::none;
    bool later = false;
    int input_record = 0;  // the input record (1 ... 16) a field of "entrada" holds
};

// The grids of the record as it lists them: one object (nx, ny) a grid.
template <class Sizes>
struct RecordGrids {
    Sizes& nx;
    Sizes& ny;
    static constexpr const char* nx_key = "nx";
    static constexpr const char* ny_key = "ny";
};

// The record's fields, declared once: `visit(field, value)` for each, in the
// order they are read and the study table shows them. The value's type is
// the field's: a text, a real, a whole number, yes or no, a list of reals, a
// real or none, a count or none, the grids.
template <class Record, class Visit>
void for_each_record_field(Record& r, Visit&& visit)
{
    using enum RecordColumn;
    visit(RecordField{json_program_key}, r.program_version);
    visit(RecordField{"entrada_fnv1a64"}, r.input_hash);
    constexpr const char* input = "entrada";
    visit(RecordField{.key = "nome_experimento", .within = input, .input_record = 1}, r.experiment_name);
    visit(RecordField{.key = "arquivo_discretizacao", .within = input, .input_record = 2}, r.discretization_file_name);
    visit(RecordField{.key = "arquivo_iterativos", .within = input, .input_record = 3}, r.iterations_file_name);
    visit(RecordField{.key = "lx", .within = input, .input_record = 4}, r.lx);
    visit(RecordField{.key = "ly", .within = input, .input_record = 5}, r.ly);
    visit(RecordField{.key = "malhas", .within = input, .column = "malhas", .shown = always, .input_record = 6}, r.grid_count);
    visit(RecordField{.key = "tolerancia", .within = input, .input_record = 9}, r.tolerance);
    visit(RecordField{.key = "iteracoes_externas_max", .within = input, .input_record = 10}, r.max_outer_iterations);
    visit(RecordField{.key = "solver", .within = input, .input_record = 11}, r.solver_kind);
    visit(RecordField{.key = "tolerancia_msi", .within = input, .input_record = 12}, r.msi_tolerance);
    visit(RecordField{.key = "iteracoes_internas_max", .within = input, .input_record = 13}, r.max_inner_iterations);
    visit(RecordField{.key = "relaxacao_sor", .within = input, .input_record = 14}, r.sor_relaxation);
    visit(RecordField{.key = "cc", .within = input, .input_record = 15}, r.bc_kind);
    visit(RecordField{.key = "titulo", .within = input, .input_record = 16}, r.title);
    visit(RecordField{"solver", nullptr, "solver", always}, r.solver);
    visit(RecordField{"ciclo", nullptr, "ciclo", always}, r.cycle);
    visit(RecordField{"malhas"}, RecordGrids<std::remove_reference_t<decltype((r.grid_nx))>>{r.grid_nx, r.grid_ny});
    visit(RecordField{"historico"}, r.history);
    visit(RecordField{"iteracoes", nullptr, "iteracoes", once_iterated}, r.iterations);
    visit(RecordField{"convergiu", nullptr, "convergiu", once_iterated}, r.converged);
    visit(RecordField{"fator_convergencia", nullptr, "fator_convergencia", once_iterated, true}, r.convergence.factor);
    visit(RecordField{"reducoes_no_fator", nullptr, nullptr, none, true}, r.convergence.reductions);
    visit(RecordField{"iteracoes_previstas", nullptr, nullptr, none, true}, r.convergence.further_iterations);
    visit(RecordField{"tempo_s", nullptr, "tempo_s", when_complete}, r.seconds);
    visit(RecordField{"numerica", "tmedia", "tmedia_numerica", when_complete}, r.mean_numerical);
    visit(RecordField{"analitica", "tmedia", "tmedia_analitica", when_complete}, r.mean_analytical);
    visit(RecordField{"numerica", "q_norte", "q_norte_numerica", when_complete}, r.rate_numerical);
    visit(RecordField{"analitica", "q_norte", "q_norte_analitica", when_complete}, r.rate_analytical);
    visit(RecordField{"l1", "erro", "erro_l1", when_complete}, r.error_l1);
    visit(RecordField{"l2", "erro", "erro_l2", when_complete}, r.error_l2);
    visit(RecordField{"max", "erro", "erro_max", when_complete}, r.error_max);
    visit(RecordField{"estado", nullptr, "estado", row_status}, r.status);
}

// The name of the record: the results file's name with its extension
// replaced by ".json" (".json" added when it has none); the results file's
// name with ".json" added (again, while it is the summary's name) when that
// name is taken by another file of the run.
std::string record_file_name(std::string_view results_name, std::string_view summary_name);

// FNV-1a (64 bits) of the bytes, as 16 lower-case hex digits.
std::string bytes_hash(std::string_view bytes);

// The record as JSON text (UTF-8, LF line ends).
std::string run_record_json(const RunRecord& record);

// Reads a record back; a text that is not a complete record ends with a
// FatalError saying what is wrong.
RunRecord parse_run_record(std::string_view text);

// A JSON number that is a whole number within 32 bits, or nothing (a real
// number, a larger one or another kind, whose conversion would be
// undefined): the records and the study designs read their integers so.
std::optional<std::int32_t> json_int32(const nlohmann::json& value);

// The largest record that is read (larger ones are refused before reading).
inline constexpr std::uintmax_t largest_record_bytes = 64u << 20;

}  // namespace placatermo
