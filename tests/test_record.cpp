// The run record: every real back to the same double, names beside the
// results, and refusals of texts that are not complete records.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <filesystem>
#include <limits>

#include "base/errors.hpp"
#include "platform/files.hpp"
#include "results/record.hpp"
#include "test_support.hpp"

namespace placatermo {
namespace {

RunRecord sample()
{
    RunRecord r;
    r.program_version = "1.1.0";
    r.input_hash = bytes_hash("placa");
    r.experiment_name = "placa.res";
    r.title = "Placa quadrada, c.c. linear – título";
    r.lx = 0.1;
    r.ly = 1.0 / 3.0;
    r.grid_count = 2;
    r.grid_nx = {6, 10};
    r.grid_ny = {6, 10};
    r.solver = "MSI";
    r.cycle = "classico";
    r.history = {1.0,
                 std::nextafter(1.0, 2.0),
                 std::numeric_limits<double>::denorm_min(),
                 std::numeric_limits<double>::max(),
                 -0.0,
                 std::numeric_limits<double>::quiet_NaN(),
                 std::numeric_limits<double>::infinity(),
                 -std::numeric_limits<double>::infinity(),
                 5.423331552734113e-07};
    r.iterations = 9;
    r.mean_numerical = 25.000005715659263;
    r.error_max = 3.154052680542918e-05;
    r.seconds = 2.1100000139995245e-05;
    return r;
}

TEST(RunRecord, EveryRealReadsBackToTheSameBits)
{
    const RunRecord r = sample();
    const RunRecord back = parse_run_record(run_record_json(r));
    ASSERT_EQ(back.history.size(), r.history.size());
    for (std::size_t k = 0; k < r.history.size(); ++k)
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.history[k]), std::bit_cast<std::uint64_t>(r.history[k])) << k;
    for (const auto member :
         {&RunRecord::lx, &RunRecord::ly, &RunRecord::mean_numerical, &RunRecord::error_max, &RunRecord::seconds})
        EXPECT_EQ(std::bit_cast<std::uint64_t>(back.*member), std::bit_cast<std::uint64_t>(r.*member));
    EXPECT_EQ(back.title, r.title);
    EXPECT_EQ(back.grid_nx, r.grid_nx);
    EXPECT_EQ(back.cycle, "classico");
    EXPECT_EQ(back.iterations, 9);
    EXPECT_EQ(back.status, "completa");
}

TEST(RunRecord, NameBesideTheResults)
{
    const std::tuple<std::string, std::string, std::string> table[] = {
        {"placa.res", "placa.dis", "placa.json"},
        {"placa", "placa.dis", "placa.json"},
        {"a.json", "a.dis", "a.json.json"},
        {"x.res", "x.json", "x.res.json"},
        {".res", "d", ".res.json"},
        {"x", "x.json", "x.json.json"},
    };
    for (const auto& [results, summary, expected] : table) EXPECT_EQ(record_file_name(results, summary), expected);
}

TEST(RunRecord, TextsThatAreNotCompleteRecordsAreRefused)
{
    std::string whole = run_record_json(sample());
    const auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = whole;
        const auto at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    };
    const std::pair<std::string, std::string> table[] = {
        {"", "registro inválido: não é um texto JSON completo"},
        {whole.substr(0, whole.size() / 2), "registro inválido: não é um texto JSON completo"},
        {whole + "lixo", "registro inválido: não é um texto JSON completo"},
        {"[1,2]", "registro inválido: não é um registro do placatermo"},
        {replaced("\"iteracoes\": 9", "\"iteracoes\": 99999999999"),
         "registro inválido: o campo \"iteracoes\" não é um inteiro de 32 bits"},
        {replaced("\"iteracoes\": 9", "\"iteracoes\": 9.5"),
         "registro inválido: o campo \"iteracoes\" não é um inteiro de 32 bits"},
        {replaced("\"tempo_s\"", "\"tempo\""), "registro inválido: falta o campo \"tempo_s\""},
        {replaced("\"convergiu\": false", "\"convergiu\": 0"),
         "registro inválido: o campo \"convergiu\" não é verdadeiro nem falso"},
        {replaced("\"historico\": [", "\"historico\": [\"muito\","),
         "registro inválido: o campo \"historico\" não é um número real"},
        {replaced("\"malhas\": 2", "\"malhas\": 3"),
         "registro inválido: a lista \"malhas\" não tem uma entrada por malha"},
        {replaced("\"versao_formato\": 1", "\"versao_formato\": 2"),
         "registro inválido: versão do formato desconhecida"},
        {replaced("\"iteracoes_previstas\": null", "\"iteracoes_previstas\": -3"),
         "registro inválido: o campo \"iteracoes_previstas\" é negativo"},
        {replaced("\"iteracoes_previstas\": null", "\"iteracoes_previstas\": 2.5"),
         "registro inválido: o campo \"iteracoes_previstas\" não é um inteiro de 32 bits"},
        {replaced("\"fator_convergencia\": null", "\"fator_convergencia\": \"lento\""),
         "registro inválido: o campo \"fator_convergencia\" não é um número real"},
        {replaced("\"reducoes_no_fator\": 0,", ""), "registro inválido: falta o campo \"reducoes_no_fator\""},
    };
    for (const auto& [text, message] : table) {
        try {
            parse_run_record(text);
            ADD_FAILURE() << "aceito: " << message;
        } catch (const FatalError& error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
}

// The convergence factor goes with the record, none as null; a record
// written before the factor was kept gets it from its own history.
TEST(RunRecord, ConvergenceFactorWrittenOrTakenFromTheHistory)
{
    RunRecord r = sample();
    const std::string without = run_record_json(r);
    for (const char* line : {"\n \"fator_convergencia\": null,\n", "\n \"reducoes_no_fator\": 0,\n",
                             "\n \"iteracoes_previstas\": null,\n"})
        EXPECT_NE(without.find(line), std::string::npos) << line;
    EXPECT_EQ(parse_run_record(without).convergence, ConvergenceFactor{});
    r.convergence = {0.1 + 0.2, 10, 2147483647};
    const std::string with = run_record_json(r);
    for (const char* line : {"\n \"fator_convergencia\": 0.30000000000000004,\n", "\n \"reducoes_no_fator\": 10,\n",
                             "\n \"iteracoes_previstas\": 2147483647,\n"})
        EXPECT_NE(with.find(line), std::string::npos) << line;
    EXPECT_EQ(parse_run_record(with).convergence, r.convergence);
    // an older record: the three fields left out
    r.history = {1.0, 0.5, 0.25};
    r.tolerance = 1e-3;
    std::string older = run_record_json(r);
    for (const char* name : {"fator_convergencia", "reducoes_no_fator", "iteracoes_previstas"}) {
        const auto from = older.find(std::string("\n \"") + name + "\"");
        ASSERT_NE(from, std::string::npos) << name;
        older.erase(from, older.find('\n', from + 1) - from);
    }
    EXPECT_EQ(older.find("fator"), std::string::npos);
    EXPECT_EQ(parse_run_record(older).convergence, (ConvergenceFactor{0.5, 2, 8}));
}

// A write cut short (a full disk, here /dev/full behind the temporary name)
// leaves neither the file nor a piece of it.
TEST(RunRecord, AtomicWriteOnFullDiskLeavesNoPiece)
{
    testing::TempDir dir;
    std::filesystem::create_symlink("/dev/full", "r.json.parcial");
    EXPECT_THROW(write_file_atomically("r.json", std::string(1 << 17, 'x')), FatalError);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status("r.json.parcial")));
    EXPECT_FALSE(std::filesystem::exists("r.json"));
}

}  // namespace
}  // namespace placatermo
