// Studies: the runs of a variation, their folders and inputs, the table,
// the job files for a cluster, refusals, failed runs and an interrupt.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>

#include "base/errors.hpp"
#include "cli_support.hpp"
#include "platform/study_lock.hpp"
#include "results/picture_check.hpp"
#include "results/record.hpp"
#include "studies/study.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

std::vector<std::string> split_lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    return lines;
}

// The cells of a CSV line, quoted ones unquoted.
std::vector<std::string> csv_cells(const std::string& line)
{
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t k = 0; k < line.size(); ++k) {
        const char c = line[k];
        if (quoted && c == '"' && k + 1 < line.size() && line[k + 1] == '"')
            cells.back() += c, ++k;
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            cells.emplace_back();
        else
            cells.back() += c;
    }
    return cells;
}

StudyOptions parse(std::vector<std::string> words)
{
    words.insert(words.begin(), {"placatermo", "estudo"});
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    return parse_study_arguments(static_cast<int>(argv.size()), argv.data());
}

TEST(StudyRuns, CartesianProductWithTheLastVaryingFastest)
{
    const StudyOptions options =
        parse({"e", "--variar", "13=1,5", "--multigrid=especificado,classico", "--variar", "7=6,10,18"});
    const auto runs = study_runs(options);
    ASSERT_EQ(runs.size(), 12u);
    EXPECT_EQ(runs[0].folder, std::filesystem::path("e") / "001");
    EXPECT_EQ(runs[0].values, (std::vector<std::string>{"1", "especificado", "6"}));
    EXPECT_EQ(runs[1].values, (std::vector<std::string>{"1", "especificado", "10"}));
    EXPECT_EQ(runs[3].values, (std::vector<std::string>{"1", "classico", "6"}));
    EXPECT_EQ(runs[11].values, (std::vector<std::string>{"5", "classico", "18"}));
    EXPECT_EQ(runs[11].folder.filename(), "012");
    std::vector<std::string> many;
    for (int v = 0; v < 1001; ++v) many.push_back(std::to_string(v + 1));
    std::string list;
    for (const auto& v : many) list += (list.empty() ? "" : ",") + v;
    const auto large = study_runs(parse({"e", "--variar", "10=" + list}));
    EXPECT_EQ(large.front().folder.filename(), "0001");
    EXPECT_EQ(large.back().folder.filename(), "1001");
}

TEST(StudyArguments, RefusedWithTheReason)
{
    const std::pair<std::vector<std::string>, std::string> table[] = {
        {{}, "falta a pasta do estudo"},
        {{"e"}, "falta ao menos um --variar"},
        {{"e", "--variar", "3=a,b"}, "--variar 3=a,b: o registro vem antes de '=' e é um número de 4 a 15"},
        {{"e", "--variar", "16=x"}, "--variar 16=x: o registro vem antes de '=' e é um número de 4 a 15"},
        {{"e", "--variar", "x=1"},
         "--variar x=1: o registro vem antes de '=' e é um número de 4 a 15 ou um nome (lx, ly, malhas, nx, ny, "
         "tolerancia, iteracoes_externas_max, solver, tolerancia_msi, iteracoes_internas_max, relaxacao_sor, cc)"},
        {{"e", "--variar", "titulo=a"}, "--variar titulo=a: o registro vem antes de '=' e é um número de 4 a 15 ou um "
                                        "nome (lx, ly, malhas, nx, ny, tolerancia, iteracoes_externas_max, solver, "
                                        "tolerancia_msi, iteracoes_internas_max, relaxacao_sor, cc)"},
        {{"e", "--variar", "7="}, "--variar 7=: faltam os valores depois de '='"},
        {{"e", "--variar", "7=6", "--variar", "7=8"}, "o registro 7 é variado duas vezes"},
        {{"e", "--multigrid=outro"}, "--multigrid=outro: os ciclos são especificado, classico e rapido"},
        {{"e", "--variar", "7=6", "--tarefas", "0"},
         "--tarefas 0: o número de execuções ao mesmo tempo é um inteiro de 1 a 9999"},
        {{"e", "--variar", "7=6", "--preparar", "--coletar"}, "--preparar, --coletar e --continuar não vão juntos"},
        {{"e", "--variar", "7=6", "--rapido"}, "argumento desconhecido: --rapido"},
        {{"e", "--variar", "7=6", "--continuar", "--coletar"}, "--preparar, --coletar e --continuar não vão juntos"},
        {{"e", "--variar", "11=2,,3"}, "--variar 11=2,,3: há um valor vazio na lista"},
        {{"e", "--variar", "11=2,"}, "--variar 11=2,: há um valor vazio na lista"},
        {{"e", "--variar", "7=10,10"}, "--variar 7=10,10: o valor 10 aparece duas vezes"},
        {{"e", "--multigrid=classico,classico"}, "--multigrid=classico,classico: o valor classico aparece duas vezes"},
        {{"e", "--variar", "7=1\n2"},
         "--variar 7=1\\n2: o valor \"1\\n2\" tem um caractere que não pode estar num valor da entrada"},
        {{"e", "--variar", "4=1 2"},
         "--variar 4=1 2: o valor \"1 2\" tem um caractere que não pode estar num valor da entrada"},
        {{"e", "--variar", "4=1/2"},
         "--variar 4=1/2: o valor \"1/2\" tem um caractere que não pode estar num valor da entrada"},
        {{"-dash", "--variar", "7=6"},
         "argumento desconhecido: -dash (uma pasta cujo nome começa com '-' vem depois de --: -- -dash)"},
        {{"a\nb", "--variar", "7=6"},
         "o nome da pasta do estudo \"a\\nb\" tem um caractere de controle: escolha outro"},
        {{"", "--variar", "7=6"}, "o nome da pasta do estudo está vazio"},
        {{"a", "b", "--variar", "7=6"}, "duas pastas de estudo: \"a\" e \"b\""},
        {{"--variar", "7=6", "--"}, "falta a pasta do estudo depois de --"},
    };
    for (const auto& [words, message] : table) {
        try {
            parse(words);
            ADD_FAILURE() << "aceito: " << message;
        } catch (const FatalError& error) {
            const std::string text = error.what();
            EXPECT_EQ(text.substr(0, text.find('\n')), message);
        }
    }
}

TEST(StudyArguments, FolderAfterDoubleDashAndHelp)
{
    const StudyOptions dash = parse({"--variar", "7=6", "--", "-dash", "--continuar"});
    EXPECT_EQ(dash.folder, std::filesystem::path("-dash"));
    EXPECT_TRUE(dash.resume);
    EXPECT_TRUE(parse({"--help"}).help);
    EXPECT_TRUE(parse({"e", "-h"}).help);
    const StudyOptions resume = parse({"e", "--continuar"});
    EXPECT_TRUE(resume.variations.empty());
}

TEST(StudyDesign, ReadBackAsWritten)
{
    StudyDesign design;
    design.program_version = "1.1.0";
    design.base_input = std::string("placa.res\r\nt\xEDtulo \x80\x81\xFF\x00 fim\r\n", 26);
    design.variations = {{7, {"6", "10"}}, {0, {"especificado", "classico"}}};
    StudyOptions options;
    options.folder = "e";
    options.variations = design.variations;
    design.runs = study_runs(options);
    const StudyDesign back = parse_study_design(study_design_json(design), "e");
    EXPECT_EQ(back.base_input, design.base_input);
    EXPECT_EQ(back.variations, design.variations);
    ASSERT_EQ(back.runs.size(), 4u);
    EXPECT_EQ(back.runs[3].folder, std::filesystem::path("e") / "004");
    EXPECT_EQ(back.runs[3].values, (std::vector<std::string>{"10", "classico"}));
    // a run list that the variations do not give is a damaged design
    std::string text = study_design_json(design);
    text.replace(text.find("\"004\""), 5, "\"005\"");
    try {
        parse_study_design(text, "e");
        ADD_FAILURE();
    } catch (const FatalError& error) {
        EXPECT_EQ(std::string(error.what()),
                  "o desenho do estudo está danificado: a execução 4 não confere com as variações");
    }
}

// A whole-number field of the design holding a real number, a number beyond
// int or a text: a damaged design, never a conversion out of range (the
// fuzzer found 3.3e51 in "numero").
TEST(StudyDesign, WholeNumberFieldsOfAnotherKindAreDamage)
{
    StudyDesign design;
    design.program_version = "1.1.0";
    design.base_input = "placa.res\r\n";
    design.variations = {{7, {"6", "10"}}};
    StudyOptions options;
    options.folder = "e";
    options.variations = design.variations;
    design.runs = study_runs(options);
    const std::string text = study_design_json(design);
    for (const char* field : {"\"numero\": 1", "\"registro\": 7", "\"versao_formato\": 1"})
        for (const char* value : {"3.3e51", "-1e30", "1.5", "1099511627776", "-1099511627776", "\"1\"", "null"}) {
            std::string broken = text;
            const std::size_t at = broken.find(field);
            ASSERT_NE(at, std::string::npos) << field;
            const std::string name = std::string(field).substr(0, std::string(field).find(':') + 2);
            broken.replace(at, std::strlen(field), name + value);
            try {
                parse_study_design(broken, "e");
                ADD_FAILURE() << field << " -> " << value;
            } catch (const FatalError& error) {
                EXPECT_EQ(std::string(error.what()),
                          "o desenho do estudo está danificado: falta um campo ou um campo tem o tipo errado")
                    << field << " -> " << value;
            }
        }
}

TEST(StudyDesign, DifferenceNamed)
{
    const std::vector<StudyVariation> design = {{11, {"1", "2", "3", "4", "5"}}, {13, {"1", "2"}}};
    const std::string tail = " (o estudo: --variar 11=1,2,3,4,5 --variar 13=1,2; sem as listas vale o estudo gravado)";
    const std::pair<std::vector<StudyVariation>, std::string> table[] = {
        {design, ""},
        {{{11, {"5", "4", "3", "2", "1"}}, {13, {"1", "2"}}},
         "as listas diferem das do estudo gravado: a linha de comando tem --variar 11=5,4,3,2,1 onde o estudo tem "
         "--variar 11=1,2,3,4,5" +
             tail},
        {{{11, {"1", "2", "3", "4", "5"}}},
         "as listas diferem das do estudo gravado: falta --variar 13=1,2 na linha de comando" + tail},
        {{{11, {"1", "2", "3", "4", "5"}}, {13, {"1", "2"}}, {0, {"classico"}}},
         "as listas diferem das do estudo gravado: --multigrid=classico não faz parte do estudo" + tail},
        {{{13, {"1", "2"}}, {11, {"1", "2", "3", "4", "5"}}},
         "as listas diferem das do estudo gravado: a linha de comando tem --variar 13=1,2 onde o estudo tem "
         "--variar 11=1,2,3,4,5" +
             tail},
    };
    for (const auto& [given, message] : table) EXPECT_EQ(design_difference(given, design), message);
}

TEST(StudyFolderLock, OneClaimAtATime)
{
    TempDir dir;
    auto first = StudyFolderLock::try_claim("trava");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(StudyFolderLock::try_claim("trava"), nullptr);
    first.reset();
    EXPECT_NE(StudyFolderLock::try_claim("trava"), nullptr);
}

TEST(ReplaceRecords, OnlyTheValuesChange)
{
    const std::string base =
        "placa.res = r\r\nplaca.dis\r\nplaca.ite\r\n1.0  = lx\r\n1.0\r\n1\r\n\r\n6 ,7 "
        "comentário\r\n6\r\n1e-6\r\n100\r\n2\r\n1e-3\r\n5\r\n"
        "1.5\r\n1\r\n'Título ''a''' = t\r\n";
    const InputParameters input = parse_input_data(base);
    EXPECT_EQ(replace_records(base, input, {{7, "34"}, {4, "2.5"}, {16, "'Outro'"}}),
              "placa.res = r\r\nplaca.dis\r\nplaca.ite\r\n2.5  = lx\r\n1.0\r\n1\r\n\r\n34 ,7 "
              "comentário\r\n6\r\n1e-6\r\n100\r\n2\r\n"
              "1e-3\r\n5\r\n1.5\r\n1\r\n'Outro' = t\r\n");
}

// The runs of a study are the runs of `placatermo --batch` in their folders,
// byte for byte (the time of day and the processing time aside).
TEST(Study, RunsAreStandaloneRunsAndTheTableReadsTheirFiles)
{
    TempDir dir;
    InputRecords r;
    write_file("placatermo.ent", r.text("\r\n"));
    const auto o = run_program("estudo e --variar 13=1,3 --variar 11=2,5 --tarefas 2");
    ASSERT_EQ(o.exit_code, 0) << o.err;
    const auto mask = [](std::string text) {
        for (const std::string& marker : {std::string("Hora = "), std::string(" = tempo de processamento")}) {
            const auto at = text.find(marker);
            if (at != std::string::npos) text.replace(at - (marker[0] == 'H' ? 0 : 20), 20, 20, '#');
        }
        const auto seconds = text.find("\"tempo_s\": ");  // in the record
        if (seconds != std::string::npos) text.erase(seconds, text.find('\n', seconds) - seconds);
        return text;
    };
    const std::vector<std::pair<std::string, std::string>> values = {{"1", "2"}, {"1", "5"}, {"3", "2"}, {"3", "5"}};
    for (std::size_t n = 0; n < values.size(); ++n) {
        const std::string folder = "e/00" + std::to_string(n + 1);
        InputRecords alone = r;
        alone.max_inner_iterations = values[n].first;
        alone.solver_kind = values[n].second;
        std::filesystem::create_directory("alone" + std::to_string(n));
        std::filesystem::current_path("alone" + std::to_string(n));
        write_file("placatermo.ent", alone.text("\r\n"));
        ASSERT_EQ(run_program("--batch --json").exit_code, 0);
        std::filesystem::current_path("..");
        std::size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            ++files;
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(mask(read_file(entry.path())), mask(read_file("alone" + std::to_string(n) + "/" + name)))
                << folder << "/" << name;
        }
        EXPECT_EQ(files, 10u) << folder;
    }
    const auto lines = split_lines(read_file("e/estudo.csv"));
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0],
              "execucao,pasta,R13,R11,malhas,nx,ny,incognitas,h,solver,ciclo,iteracoes,convergiu,ultima_razao,"
              "fator_convergencia,tempo_s,"
              "tmedia_numerica,tmedia_analitica,tmedia_diferenca,q_norte_numerica,q_norte_analitica,q_norte_diferenca,"
              "erro_l1,erro_l2,erro_max,ordem_tmedia,ordem_q_norte,ordem_erro_max,estado");
    const auto row = csv_cells(lines[2]);  // MSI, 1 inner iteration
    EXPECT_EQ(row[0], "2");
    EXPECT_EQ(row[1], "002");
    EXPECT_EQ(row[2], "1");
    EXPECT_EQ(row[3], "5");
    EXPECT_EQ(row[9], "MSI");
    EXPECT_EQ(row[28], "ok");
    // the values are those of the run's own results file
    const std::string results = read_file("e/002/placa.res");
    const auto history_end = results.find("\r\n\r\n", results.find("Norma L1"));
    const auto last = results.rfind("\r\n", history_end - 1);
    EXPECT_EQ(std::stoi(results.substr(last + 2, 10)), std::stoi(row[11]));
    const auto mean = results.find(" = num\xE9rica");
    EXPECT_EQ(std::stod(results.substr(mean - 26, 26)), std::stod(row[16]));
    EXPECT_NE(read_file("e/estudo.md").find("| 2 | 002 | 1 | 5 |"), std::string::npos);
    // a study folder with runs in it is never overwritten
    const auto again = run_program("estudo e --variar 13=1");
    EXPECT_EQ(again.exit_code, 2);
    EXPECT_EQ(again.err.substr(0, again.err.find('\n')),
              "placatermo: erro: a pasta \"e\" já tem arquivos: escolha outra pasta, ou use --continuar para "
              "completar o estudo que ela tem, ou --coletar para montar a tabela das execuções que ela tem");
    EXPECT_EQ(read_file("e/estudo.csv"),
              lines[0] + "\n" + lines[1] + "\n" + lines[2] + "\n" + lines[3] + "\n" + lines[4] + "\n");
}

// A run that fails stands in the table with its message; the others go on.
TEST(Study, FailedRunIsReportedAndTheOthersGoOn)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    const auto o = run_program("estudo e --variar 7=2,6");
    EXPECT_EQ(o.exit_code, 1);
    const auto lines = split_lines(read_file("e/estudo.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(
        csv_cells(lines[1]).back(),
        "erro de leitura no arquivo \"e/001/placatermo.ent\", linha 7, parâmetro \"número de volumes na direção X "
        "da malha 1\": 2 está fora do intervalo permitido (3 ou mais, os dois volumes fictícios incluídos)");
    EXPECT_EQ(csv_cells(lines[2]).back(), "ok");
}

// Prepared for a cluster, run by sh, collected: the same table.
TEST(Study, PreparedRunsCollectedGiveTheSameTable)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo direto --variar 13=1,4 --variar 15=1,2").exit_code, 0);
    const auto prepared = run_program("estudo preparado --variar 13=1,4 --variar 15=1,2 --preparar");
    ASSERT_EQ(prepared.exit_code, 0) << prepared.err;
    EXPECT_FALSE(std::filesystem::exists("preparado/001/placa.res"));
    const std::string slurm = read_file("preparado/slurm.sh");
    EXPECT_NE(slurm.find("#SBATCH --array=1-4\n"), std::string::npos);
    EXPECT_NE(slurm.find("#SBATCH --mem="), std::string::npos);
    EXPECT_NE(slurm.find("#SBATCH --time="), std::string::npos);
    const auto tasks = split_lines(read_file("preparado/tarefas.txt"));
    ASSERT_EQ(tasks.size(), 4u);
    // one run left out: the table lists it as missing
    const std::string sh = "PATH='" + testing::quiet_plotter_folder() + ":/usr/bin:/bin' sh -c '" + tasks[0] + " && " +
                           tasks[1] + " && " + tasks[2] + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(sh.c_str()), 0);
    const auto partial = run_program("estudo preparado --coletar --variar 13=1,4 --variar 15=1,2");
    EXPECT_EQ(partial.exit_code, 1);
    EXPECT_NE(partial.err.find("1 de 4 execuções sem resultados completos: 004"), std::string::npos) << partial.err;
    const std::string last =
        "PATH='" + testing::quiet_plotter_folder() + ":/usr/bin:/bin' sh -c '" + tasks[3] + "' >/dev/null 2>&1";
    ASSERT_EQ(std::system(last.c_str()), 0);
    ASSERT_EQ(run_program("estudo preparado --coletar --variar 13=1,4 --variar 15=1,2").exit_code, 0);
    const auto without_times = [](const std::string& file) {
        std::string table;
        for (const auto& line : split_lines(read_file(file))) {
            auto cells = csv_cells(line);
            cells[15].clear();  // tempo_s
            for (const auto& cell : cells) table += cell + ",";
            table += "\n";
        }
        return table;
    };
    EXPECT_EQ(without_times("preparado/estudo.csv"), without_times("direto/estudo.csv"));
}

// Ctrl-C: the running runs stop after their outer iteration, the table is
// written for what finished.
TEST(Study, InterruptStopsCleanly)
{
    TempDir dir;
    testing::write_endless_input();
    const pid_t child =
        testing::start_program({"estudo", "e", "--variar", "13=1,2", "--variar", "15=1,2", "--tarefas", "2"});
    for (int wait = 0; wait < 200 && !std::filesystem::exists("e/002/placa.res"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const auto lines = split_lines(read_file("e/estudo.csv"));
    ASSERT_EQ(lines.size(), 5u);
    const std::string interrupted = "execução interrompida na iteração externa ";
    for (int n = 1; n <= 2; ++n)
        EXPECT_EQ(csv_cells(lines[static_cast<std::size_t>(n)]).back().substr(0, interrupted.size()), interrupted)
            << lines[static_cast<std::size_t>(n)];
    for (int n = 3; n <= 4; ++n) EXPECT_EQ(csv_cells(lines[static_cast<std::size_t>(n)]).back(), "sem resultados");
}

// Ctrl-C while --preparar makes the folders of a large study: it stops there
// (not after the other folders), with exit 1, the folders made kept and no
// job files that would name the others.
TEST(Study, InterruptWhilePreparingStopsMakingFolders)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    std::string lists[] = {"10=1", "13=1"};
    for (int v = 2; v <= 200; ++v) (lists[0] += ',') += std::to_string(v);
    for (int v = 2; v <= 100; ++v) (lists[1] += ',') += std::to_string(v);
    const pid_t child = testing::start_program(
        {"estudo", "p", "--variar", lists[0].c_str(), "--variar", lists[1].c_str(), "--preparar"});
    for (int wait = 0; wait < 1000 && !std::filesystem::exists("p/00001/placatermo.ent"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    const std::string err = read_file("stderr.txt");
    EXPECT_EQ(err.substr(0, 21), "estudo: interrompido:") << err;
    EXPECT_NE(err.find(" de 20000 execuções preparadas em p, sem tarefas.txt e slurm.sh"), std::string::npos) << err;
    EXPECT_FALSE(std::filesystem::exists("p/tarefas.txt"));
    EXPECT_FALSE(std::filesystem::exists("p/20000"));
}

// Every file of a folder tree with its bytes and time stamp.
std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> snapshot(
    const std::filesystem::path& folder)
{
    std::map<std::string, std::pair<std::string, std::filesystem::file_time_type>> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[entry.path().string()] = {read_file(entry.path()), std::filesystem::last_write_time(entry.path())};
    return files;
}

// The cells of one column of estudo.csv, one per run.
std::vector<std::string> column(const std::string& table_file, const std::string& name)
{
    const auto lines = split_lines(read_file(table_file));
    const auto header = csv_cells(lines.at(0));
    const auto at = std::find(header.begin(), header.end(), name);
    EXPECT_NE(at, header.end()) << name;
    std::vector<std::string> cells;
    for (std::size_t n = 1; n < lines.size(); ++n)
        cells.push_back(csv_cells(lines[n]).at(static_cast<std::size_t>(at - header.begin())));
    return cells;
}

std::string shell_with_plotter(const std::string& command)
{
    return "PATH='" + testing::quiet_plotter_folder() + ":/usr/bin:/bin' sh -c '" + command + "' >/dev/null 2>&1";
}

// Prepared, partly run, one run killed before its record: --coletar lists
// what is missing, lists other than the study's are refused without a
// change, --continuar runs only the two runs without a complete result.
TEST(Study, PreparedPartlyRunThenContinued)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo p --variar 11=2,5 --variar 7=5,10 --preparar").exit_code, 0);
    const auto tasks = split_lines(read_file("p/tarefas.txt"));
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_NE(tasks[0].find(" --batch --json"), std::string::npos);
    for (std::size_t n = 0; n < 3; ++n) ASSERT_EQ(std::system(shell_with_plotter(tasks[n]).c_str()), 0);
    std::filesystem::remove("p/003/placa.json");  // killed before its record
    const auto finished = snapshot("p/001");
    const auto finished2 = snapshot("p/002");

    const auto collected = run_program("estudo p --coletar");
    EXPECT_EQ(collected.exit_code, 1);
    EXPECT_EQ(column("p/estudo.csv", "estado"),
              (std::vector<std::string>{"ok", "ok", "incompleta (sem o registro placa.json)", "sem resultados"}));
    const std::string table = read_file("p/estudo.csv");
    for (const std::string lists : {"--variar 11=5,2 --variar 7=5,10", "--variar 11=2,5", "--variar 7=5,10,18"}) {
        const auto refused = run_program("estudo p --coletar " + lists);
        EXPECT_EQ(refused.exit_code, 2) << lists;
        EXPECT_EQ(refused.err.substr(0, 50), "placatermo: erro: as listas diferem das do estudo ") << lists;
        EXPECT_EQ(read_file("p/estudo.csv"), table);
    }
    EXPECT_EQ(run_program("estudo p --continuar --variar 11=5,2 --variar 7=5,10").exit_code, 2);

    const auto resumed = run_program("estudo p --continuar --variar 11=2,5 --variar 7=5,10");
    EXPECT_EQ(resumed.exit_code, 0) << resumed.err;
    EXPECT_NE(resumed.err.find("estudo: 2 de 4 execuções a rodar\n"), std::string::npos) << resumed.err;
    EXPECT_EQ(snapshot("p/001"), finished);
    EXPECT_EQ(snapshot("p/002"), finished2);
    EXPECT_EQ(column("p/estudo.csv", "estado"), (std::vector<std::string>{"ok", "ok", "ok", "ok"}));
    // the table's error norms are the record's, to the last bit
    const RunRecord record = parse_run_record(read_file("p/004/placa.json"));
    EXPECT_EQ(std::stod(column("p/estudo.csv", "erro_max")[3]), record.error_max);
    EXPECT_EQ(std::stod(column("p/estudo.csv", "erro_l2")[3]), record.error_l2);
    EXPECT_EQ(std::stod(column("p/estudo.csv", "tmedia_numerica")[3]), record.mean_numerical);
}

// kill -9 in the middle: --continuar completes the study and leaves every run
// that had its record alone.
TEST(Study, KilledThenContinued)
{
    TempDir dir;
    InputRecords r;
    r.max_inner_iterations = "1";
    write_file("placatermo.ent", r.text("\r\n"));
    // the killed study draws nothing: a plotting program it started would
    // live on and could write a picture while the resumed study draws it
    const std::string path = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", "/nenhuma-pasta", 1);
    const pid_t child = testing::start_program({"estudo", "k", "--variar", "7=5,34,66,130", "--tarefas", "1"});
    setenv("PATH", path.c_str(), 1);
    for (int wait = 0; wait < 400 && !std::filesystem::exists("k/001/placa.json"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    std::map<std::string, decltype(snapshot("k"))> complete;
    for (const char* run : {"k/001", "k/002", "k/003", "k/004"})
        if (std::filesystem::exists(std::string(run) + "/placa.json")) complete[run] = snapshot(run);
    ASSERT_FALSE(complete.empty());
    const auto resumed = run_program("estudo k --continuar --tarefas 1");
    EXPECT_EQ(resumed.exit_code, 0) << resumed.err;
    for (const auto& [run, files] : complete) EXPECT_EQ(snapshot(run), files) << run;
    EXPECT_EQ(column("k/estudo.csv", "estado"), (std::vector<std::string>(4, "ok")));
    EXPECT_EQ(column("k/estudo.csv", "nx"), (std::vector<std::string>{"5", "34", "66", "130"}));
}

// A second study, --continuar or --coletar into a folder where a study
// works is refused at once and changes nothing.
TEST(Study, SecondStudyIntoTheSameFolderIsRefused)
{
    TempDir dir;
    testing::write_endless_input();
    const pid_t child = testing::start_program({"estudo", "e", "--variar", "13=1,2", "--tarefas", "1"});
    for (int wait = 0; wait < 400 && !std::filesystem::exists("e/001/placa.res"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    const std::string design = read_file("e/estudo.json");
    for (const std::string arguments : {"estudo e --variar 11=1,2,3", "estudo e --continuar", "estudo e --coletar"}) {
        const auto second = run_program(arguments);
        EXPECT_EQ(second.exit_code, 2) << arguments;
        EXPECT_EQ(second.err,
                  "placatermo: erro: a pasta \"e\" está em uso por outro estudo (rodando agora): espere que ele "
                  "termine ou escolha outra pasta\n")
            << arguments;
    }
    EXPECT_EQ(read_file("e/estudo.json"), design);
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(column("e/estudo.csv", "R13").size(), 2u);
}

// Records and inputs damaged after the study: each row says what is wrong,
// the exit status is 1, no signal; --continuar makes them whole again.
TEST(Study, DamagedRunsEndInTheTable)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo e --variar 11=1,2,3,4,5,6 --tarefas 2").exit_code, 0);
    const std::string record = read_file("e/001/placa.json");
    write_file("e/001/placa.json", record + std::string(200000, '1'));
    write_file("e/002/placa.json", record.substr(0, record.size() / 2));
    std::filesystem::resize_file("e/003/placa.json", 100u << 20);
    std::string input = read_file("e/004/placatermo.ent");
    input.replace(input.find("5   = label\r\n4   = label\r\n"), 26, "40000\r\n40000\r\n");
    write_file("e/004/placatermo.ent", input);
    std::filesystem::remove("e/005/placatermo.ent");
    write_file("e/006/placa.json", record);  // another run's record
    const auto collected = run_program("estudo e --coletar");
    EXPECT_EQ(collected.exit_code, 1) << collected.err;
    EXPECT_EQ(
        column("e/estudo.csv", "estado"),
        (std::vector<std::string>{"placa.json: registro inválido: não é um texto JSON completo",
                                  "placa.json: registro inválido: não é um texto JSON completo",
                                  "registro placa.json grande demais (104857600 bytes)",
                                  "o registro placa.json não é da entrada que está na pasta", "sem arquivo de entrada",
                                  "o registro placa.json não é da entrada que está na pasta"}));
    const auto resumed = run_program("estudo e --continuar");
    EXPECT_EQ(resumed.exit_code, 0) << resumed.err;
    EXPECT_EQ(column("e/estudo.csv", "estado"), (std::vector<std::string>(6, "ok")));
    EXPECT_EQ(column("e/estudo.csv", "nx"), (std::vector<std::string>(6, "5")));
}

// Results or summary names that leave the run folder: each run refused with
// the reason, nothing written outside.
TEST(Study, ResultsNameOutsideTheRunFolderIsRefused)
{
    TempDir dir;
    for (const std::string name : {"'../fora.res'", "'/tmp/pt-fora.res'"}) {
        std::filesystem::remove_all("e");
        InputRecords r;
        r.experiment_name = name;
        write_file("placatermo.ent", r.text("\r\n"));
        const auto o = run_program("estudo e --variar 11=1,2 --tarefas 2");
        EXPECT_EQ(o.exit_code, 1) << name;
        const std::string bare = name.substr(1, name.size() - 2);
        EXPECT_EQ(column("e/estudo.csv", "estado"),
                  (std::vector<std::string>(2, "o arquivo \"" + bare +
                                                   "\" da entrada sairia da pasta da execução (registros 1 e 2 "
                                                   "são só nomes de arquivo, sem pasta)")));
        EXPECT_FALSE(std::filesystem::exists("e/fora.res"));
        EXPECT_FALSE(std::filesystem::exists("/tmp/pt-fora.res"));
        EXPECT_EQ(run_program("estudo f --variar 11=1,2 --preparar").exit_code, 2);
    }
}

// More runs than Slurm's default array takes: blocks of runs per task; every
// index of the array line run once runs every line of tarefas.txt once. The
// folder name has a blank and a '%'.
TEST(Study, SlurmBlocksRunEveryRunOnce)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    std::string list;
    for (int v = 1; v <= 1001; ++v) {
        if (v > 1) list += ',';
        list += std::to_string(v);
    }
    ASSERT_EQ(run_program("estudo 's b%c' --variar 10=" + list + " --preparar").exit_code, 0);
    const std::string script = read_file("s b%c/slurm.sh");
    EXPECT_NE(script.find("\n#SBATCH --array=1-501\n"), std::string::npos);
    EXPECT_EQ(script.find("#SBATCH --output"), std::string::npos);  // the folder is not Slurm-plain
    EXPECT_EQ(split_lines(read_file("s b%c/tarefas.txt")).size(), 1001u);
    // the same script over lines that only say which line ran
    std::string lines;
    for (int n = 1; n <= 1001; ++n) lines += "echo " + std::to_string(n) + " >>ran.txt\n";
    write_file("s b%c/tarefas.txt", lines);
    std::string all =
        "for i in $(seq 1 501); do SLURM_ARRAY_JOB_ID=7 SLURM_ARRAY_TASK_ID=$i bash 's b%c/slurm.sh' "
        "|| exit 1; done";
    ASSERT_EQ(std::system(all.c_str()), 0);
    auto ran = split_lines(read_file("ran.txt"));
    std::sort(ran.begin(), ran.end(), [](const auto& a, const auto& b) { return std::stoi(a) < std::stoi(b); });
    ASSERT_EQ(ran.size(), 1001u);
    for (int n = 1; n <= 1001; ++n) EXPECT_EQ(ran[static_cast<std::size_t>(n - 1)], std::to_string(n));
    EXPECT_TRUE(std::filesystem::exists("s b%c/slurm-7_501.out"));
}

// The varied cycle and the run's cycle are two columns of different names.
TEST(Study, ColumnNamesAreUnique)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo e --variar 6=2 --multigrid=especificado,classico").exit_code, 0);
    auto header = csv_cells(split_lines(read_file("e/estudo.csv"))[0]);
    EXPECT_EQ(header[3], "multigrid");
    EXPECT_EQ(column("e/estudo.csv", "ciclo"), (std::vector<std::string>{"especificado", "classico"}));
    std::sort(header.begin(), header.end());
    EXPECT_EQ(std::adjacent_find(header.begin(), header.end()), header.end());
    const auto help = run_program("estudo --help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.substr(0, 30), "uso: placatermo estudo PASTA -");
}

// A Markdown table's rows as cells (header first, the |---| line left out).
std::vector<std::vector<std::string>> markdown_rows(const std::vector<std::string>& lines, std::size_t first)
{
    std::vector<std::vector<std::string>> rows;
    for (std::size_t n = first; n < lines.size() && !lines[n].empty() && lines[n][0] == '|'; ++n) {
        if (lines[n].rfind("|---", 0) == 0) continue;
        std::vector<std::string> cells;
        std::size_t start = 1;
        for (std::size_t bar; (bar = lines[n].find('|', start)) != std::string::npos; start = bar + 1) {
            std::string cell = lines[n].substr(start, bar - start);
            cell.erase(0, cell.find_first_not_of(' '));
            cell.erase(cell.find_last_not_of(' ') + 1);
            cells.push_back(cell);
        }
        rows.push_back(cells);
    }
    return rows;
}

// Each study example of the README and of the pages in docs/ (a one-line
// command followed by a table), run as printed in an empty folder, gives the
// table's digits.
TEST(Readme, StudyExamplesRunAsPrinted)
{
    std::vector<std::string> pages{PLACATERMO_SOURCE_DIR "/README.md"};
    for (const auto& entry : std::filesystem::directory_iterator(PLACATERMO_SOURCE_DIR "/docs"))
        if (entry.path().extension() == ".md") pages.push_back(entry.path().string());
    std::vector<std::string> lines;
    for (const auto& page : pages) {
        for (auto& line : split_lines(read_file(page))) lines.push_back(std::move(line));
        lines.emplace_back();  // a table ends with its page
    }
    int examples = 0;
    for (std::size_t n = 0; n + 4 < lines.size(); ++n) {
        if (lines[n] != "```sh" || lines[n + 1].rfind("placatermo estudo ", 0) != 0 || lines[n + 2] != "```" ||
            lines[n + 4].rfind("| execucao", 0) != 0)
            continue;
        ++examples;
        const std::string command = lines[n + 1];
        const auto expected = markdown_rows(lines, n + 4);
        TempDir dir;
        const auto o = run_program(command.substr(std::string("placatermo ").size()));
        ASSERT_EQ(o.exit_code, 0) << command << "\n" << o.err;
        const std::string folder = command.substr(18, command.find(' ', 18) - 18);
        const auto table = markdown_rows(split_lines(read_file(folder + "/estudo.md")), 0);
        ASSERT_EQ(table.size(), expected.size()) << command;
        for (std::size_t c = 0; c < expected[0].size(); ++c) {
            const auto at = std::find(table[0].begin(), table[0].end(), expected[0][c]);
            ASSERT_NE(at, table[0].end()) << expected[0][c];
            for (std::size_t r = 1; r < expected.size(); ++r)
                EXPECT_EQ(table[r].at(static_cast<std::size_t>(at - table[0].begin())), expected[r][c])
                    << command << ": linha " << r << ", coluna " << expected[0][c];
        }
    }
    EXPECT_EQ(examples, 3);
}

// The error norms of the record and of the table are those of the field:
// here the VTK file's error field of the same run, to the last bit.
TEST(Study, ErrorNormsAreTheFieldsToTheLastBit)
{
    TempDir dir;
    InputRecords r;
    r.grid_count = "3";
    r.nx = "6";
    r.ny = "10";
    r.bc_kind = "2";
    r.tolerance = "1e-9";
    write_file("placatermo.ent", r.text("\r\n"));
    ASSERT_EQ(run_program("--batch --json --vtk").exit_code, 0);
    const std::string vtk = read_file("placa.vtk");
    const std::int64_t nx = 18, ny = 34;
    const std::string heading = "SCALARS erro double 1\nLOOKUP_TABLE default\n";
    const auto at = vtk.find(heading);
    ASSERT_NE(at, std::string::npos);
    const char* data = vtk.data() + at + heading.size();
    double largest = 0.0, sum = 0.0;
    for (std::int64_t j = 2; j <= ny - 1; ++j)
        for (std::int64_t i = 2; i <= nx - 1; ++i) {
            unsigned char bytes[8];
            std::memcpy(bytes, data + 8 * ((j - 1) * nx + (i - 1)), 8);
            std::reverse(bytes, bytes + 8);
            double e;
            std::memcpy(&e, bytes, 8);
            largest = std::max(largest, std::fabs(e));
            sum += std::fabs(e);
        }
    const RunRecord record = parse_run_record(read_file("placa.json"));
    EXPECT_EQ(record.error_max, largest);
    EXPECT_EQ(record.error_l1, sum / static_cast<double>((nx - 2) * (ny - 2)));
    EXPECT_EQ(record.grid_nx, (std::vector<std::int32_t>{6, 10, 18}));
    EXPECT_EQ(record.cycle, "especificado");
    ASSERT_EQ(run_program("estudo e --variar 15=2").exit_code, 0);
    EXPECT_EQ(std::stod(column("e/estudo.csv", "erro_max")[0]), largest);
}

// A run folder that cannot be made: that run's row says why in Portuguese,
// the others run, the table is written, the exit status is 1.
TEST(Study, RunFolderThatCannotBeWrittenEndsInItsRow)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo q --variar 13=1,2,3 --preparar").exit_code, 0);
    std::filesystem::remove_all("q/002");
    write_file("q/002", "");
    const auto o = run_program("estudo q --continuar --tarefas 2");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(
        column("q/estudo.csv", "estado"),
        (std::vector<std::string>{
            "ok", "operação de arquivos falhou em \"q/002\": um componente do caminho não é um diretório", "ok"}));
    EXPECT_EQ(o.err.find("filesystem"), std::string::npos) << o.err;
}

// The job files are written whole or not at all: one cut short by a full
// disk (here /dev/full where tarefas.txt was) would stay and never be
// written again by --continuar.
TEST(Study, JobFilesAreWrittenWholeOrNotAtAll)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo q --variar 13=1,2,3 --preparar").exit_code, 0);
    std::filesystem::remove("q/tarefas.txt");
    std::filesystem::remove("q/slurm.sh");
    std::filesystem::create_symlink("/dev/full", "q/tarefas.txt");
    const auto o = run_program("estudo q --continuar --tarefas 2");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status("q/tarefas.txt")));
    EXPECT_EQ(split_lines(read_file("q/tarefas.txt")).size(), 3u);
    EXPECT_TRUE(std::filesystem::exists("q/slurm.sh"));
}

// Run folders made hostile after the study: an input that is a fifo (whose
// reading would never end), a huge input, a run folder replaced by a link to
// another run's (whose values are not the row's): --coletar and --continuar
// end, each row says what is wrong, nothing is written through the link.
TEST(Study, HostileRunFoldersEndInTheirRows)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo h --variar 13=1,2,3,4 --tarefas 2").exit_code, 0);
    std::filesystem::remove("h/001/placatermo.ent");
    ASSERT_EQ(mkfifo("h/001/placatermo.ent", 0644), 0);
    std::filesystem::resize_file("h/002/placatermo.ent", 100u << 20);
    std::filesystem::remove_all("h/003");
    std::filesystem::create_directory_symlink("004", "h/003");
    const std::string other =
        "a entrada placatermo.ent da pasta não é a que o estudo deu a esta execução (mudada "
        "depois, ou a pasta de outra)";
    const auto collected = run_program("estudo h --coletar");
    EXPECT_EQ(collected.exit_code, 1) << collected.err;
    EXPECT_EQ(column("h/estudo.csv", "estado"),
              (std::vector<std::string>{"o arquivo de entrada placatermo.ent não é um arquivo comum",
                                        "o arquivo de entrada placatermo.ent é grande demais (104857600 bytes)", other,
                                        "ok"}));
    const std::string fourth = read_file("h/004/placatermo.ent");
    const auto resumed = run_program("estudo h --continuar");
    EXPECT_EQ(resumed.exit_code, 1) << resumed.err;
    EXPECT_EQ(column("h/estudo.csv", "estado"),
              (std::vector<std::string>{
                  "\"h/001/placatermo.ent\" não é um arquivo comum nem uma pasta (um link, um fifo...): o estudo não "
                  "grava através dele; remova-o e rode de novo",
                  "ok",
                  "a pasta da execução \"h/003\" é um link simbólico: o estudo não grava através dele; remova-o e "
                  "rode de novo",
                  "ok"}));
    EXPECT_EQ(read_file("h/004/placatermo.ent"), fourth);
}

// A grid record varied with one value: no plot against h, which the plotting
// program could only draw as an empty range (and complain of it).
TEST(Study, OneGridSizeDrawsNoPlotAgainstH)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    // a plotting program that keeps the study's script it is given
    const std::string plotter = (std::filesystem::current_path() / "plotter").string();
    std::filesystem::create_directory(plotter);
    testing::write_study_plotter(plotter,
                                 "cp '" + plotter + "/whole.png' \"$f\"; cat \"$1\" >> '" + plotter + "/scripts'");
    const auto o =
        run_program("estudo u --variar 7=10 --variar 13=1,2 --tarefas 2", "PATH='" + plotter + ":/usr/bin:/bin'");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    const std::string scripts = read_file(plotter + "/scripts");
    EXPECT_NE(scripts.find("residuos.png"), std::string::npos);
    EXPECT_EQ(scripts.find("erro_h.png"), std::string::npos);
    EXPECT_EQ(scripts.find("tempo.png"), std::string::npos);
}

// Studies too large to hold, refused before anything is made (not even the
// default input): a count that would wrap to 0 (2^65 runs), one that would
// run until memory ran out (10^8), and values too long for a design that
// --coletar and --continuar could read back, with and without --preparar.
TEST(Study, OversizedStudiesAreRefusedBeforeAnythingIsMade)
{
    TempDir dir;
    const auto lists = [](std::vector<const char*> records, int count, std::size_t length) {
        std::vector<std::string> words;
        for (const char* record : records) {
            std::string text = std::string(record) + "=";
            for (int v = 1; v <= count; ++v) {
                std::string value = std::to_string(v);
                value.resize(std::max(length, value.size()), 'x');
                text += (v > 1 ? "," : "") + value;
            }
            words.insert(words.end(), {"--variar", text});
        }
        return words;
    };
    const std::string too_many =
        " execuções, mais do que as 100000 que um estudo pode ter: divida-o em estudos menores";
    const std::string too_long =
        "os valores das execuções somariam 69 MiB, mais do que os 64 MiB do desenho do estudo (estudo.json) que "
        "--coletar e --continuar leem: encurte os valores ou divida o estudo em estudos menores";
    auto prepared = lists({"4", "5"}, 300, 400);
    prepared.emplace_back("--preparar");
    const std::pair<std::vector<std::string>, std::string> table[] = {
        {lists({"4", "5", "9", "10", "11"}, 8192, 0), "o estudo teria 8192 × 8192 × 8192 × 8192 × 8192" + too_many},
        {lists({"4", "5", "9", "10"}, 100, 0), "o estudo teria 100 × 100 × 100 × 100" + too_many},
        {lists({"4", "5"}, 300, 400), too_long},
        {prepared, too_long},
    };
    for (const auto& [words, message] : table) {
        std::vector<const char*> arguments = {"estudo", "e"};
        for (const auto& word : words) arguments.push_back(word.c_str());
        const pid_t child = testing::start_program(arguments);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << message;
        EXPECT_EQ(WEXITSTATUS(status), 2) << message;
        EXPECT_EQ(read_file("stderr.txt"), "placatermo: erro: " + message + "\n");
        std::filesystem::remove("stderr.txt");
        EXPECT_TRUE(std::filesystem::is_empty(".")) << message;
    }
}

// A refused study takes back what it made: `estudo /` and `estudo ..` (fresh
// or collected) leave no lock file, a new folder for an input that is
// refused is gone again; a lock file that is a link is refused, and nothing
// is made where it points.
TEST(Study, RefusedStudiesLeaveNothingBehind)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    for (const std::string folder : {"/", ".."}) {
        const std::filesystem::path lock = std::filesystem::path(folder) / ".estudo.trava";
        if (std::filesystem::exists(std::filesystem::symlink_status(lock))) continue;  // not ours to judge
        for (const std::string mode : {"--variar 7=6", "--coletar"}) {
            EXPECT_EQ(run_program("estudo " + folder + " " + mode).exit_code, 2) << folder << " " << mode;
            EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(lock))) << folder << " " << mode;
        }
    }
    write_file("placatermo.ent", "x\r\n");
    EXPECT_EQ(run_program("estudo novo/e --variar 7=6").exit_code, 2);
    EXPECT_FALSE(std::filesystem::exists("novo"));

    std::filesystem::create_directory("e");
    std::filesystem::create_symlink("../alvo", "e/.estudo.trava");
    for (const std::string mode : {"--variar 7=6", "--coletar"}) {
        const auto o = run_program("estudo e " + mode);
        EXPECT_EQ(o.exit_code, 2) << mode;
        EXPECT_EQ(o.err,
                  "placatermo: erro: \"e/.estudo.trava\" é um link simbólico: o estudo só trava a pasta num arquivo "
                  "seu, nunca através de um link; remova o link e rode de novo\n")
            << mode;
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status("alvo"))) << mode;
    }
}

// The study's pictures count only when whole: the plotting program ends
// with 0 whether it wrote nothing, an empty file or half a picture. Each
// fault names the picture and why, keeps the earlier one, ends with 1 and
// says the table is complete; the whole ones take their places. Without a
// plotting program, one warning and 0, as ever.
TEST(Study, PicturesThatAreNotWholeKeepTheEarlierOnes)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    const std::string plotter = (std::filesystem::current_path() / "plotter").string();
    std::filesystem::create_directory(plotter);
    const std::string whole_file = plotter + "/whole.png";
    testing::write_study_plotter(plotter,
                                 "if [ \"$f\" = \"$FALHA_EM\" ]; then case \"$FALHA\" in vazio) : > \"$f\" ;; "
                                 "metade) head -c 10 '" +
                                     whole_file + "' > \"$f\" ;; esac; else cp '" + whole_file + "' \"$f\"; fi");
    const std::string whole = read_file(whole_file);
    const auto study = [&](const std::string& arguments, const std::string& picture, const std::string& fault) {
        return run_program(arguments, "PATH='" + plotter + ":/usr/bin:/bin' FALHA_EM=" + picture + " FALHA=" + fault);
    };
    const std::string complete = "estudo: a tabela está completa (as 2 execuções terminaram), mas faltam gráficos\n";
    const auto said = [](const std::string& err, const std::string& line) {
        return err.find(line) != std::string::npos;
    };
    const auto first = study("estudo e --variar 7=6,10 --tarefas 2", "residuos.png", "vazio");
    EXPECT_EQ(first.exit_code, 1) << first.err;
    EXPECT_TRUE(said(first.err,
                     "aviso: o gráfico residuos.png do estudo não foi desenhado: o arquivo que o gnuplot "
                     "gravou está vazio\n"))
        << first.err;
    EXPECT_TRUE(said(first.err, complete)) << first.err;
    EXPECT_FALSE(std::filesystem::exists("e/residuos.png"));
    EXPECT_EQ(read_file("e/erro_h.png"), whole);
    EXPECT_EQ(read_file("e/tempo.png"), whole);

    const std::tuple<std::string, std::string, std::string> faults[] = {
        {"residuos.png", "nada", "o gnuplot não gravou o arquivo"},
        {"erro_h.png", "vazio", "o arquivo que o gnuplot gravou está vazio"},
        {"tempo.png", "metade", "o arquivo que o gnuplot gravou está incompleto (10 bytes)"},
    };
    for (const auto& [picture, fault, why] : faults) {
        for (const char* name : {"residuos.png", "erro_h.png", "tempo.png"})
            write_file(std::string("e/") + name, "anterior");
        const auto o = study("estudo e --coletar", picture, fault);
        EXPECT_EQ(o.exit_code, 1) << o.err;
        EXPECT_TRUE(
            said(o.err, "aviso: o gráfico " + picture + " do estudo não foi desenhado: " + why + "; fica o anterior\n"))
            << o.err;
        EXPECT_TRUE(said(o.err, complete)) << o.err;
        for (const char* name : {"residuos.png", "erro_h.png", "tempo.png"})
            EXPECT_EQ(read_file(std::string("e/") + name), name == picture ? "anterior" : whole)
                << picture << " " << name;
        EXPECT_FALSE(std::filesystem::exists("e/.estudo.graficos"));
    }
    EXPECT_EQ(study("estudo e --coletar", "-", "nada").exit_code, 0);
    EXPECT_EQ(read_file("e/residuos.png"), whole);

    const auto without = run_program("estudo e --coletar", "PATH='" + plotter + "/vazia'");
    EXPECT_EQ(without.exit_code, 0) << without.err;
    const std::string warning =
        "aviso: os gráficos do estudo não foram desenhados: o programa de gráficos (gnuplot) não";
    EXPECT_TRUE(said(without.err, warning)) << without.err;
    EXPECT_EQ(without.err.find(warning), without.err.rfind(warning));
}

// The pictures' keys name what varies, by name; a variation of one value is
// fixed and left out; the grid by its finest size, left out against h.
TEST(Study, PlotKeysNameWhatVaries)
{
    const auto variation = [](int record, std::vector<std::string> values) {
        return StudyVariation{record, std::move(values)};
    };
    const std::vector<StudyVariation> solvers = {variation(6, {"1"}),
                                                 variation(7, {"34"}),
                                                 variation(8, {"34"}),
                                                 variation(9, {"1e-8"}),
                                                 variation(10, {"20000"}),
                                                 variation(14, {"1.2"}),
                                                 variation(11, {"1", "2", "3", "4", "5"}),
                                                 variation(13, {"1", "5"})};
    const std::vector<StudyVariation> grids = {variation(6, {"1", "2"}), variation(7, {"10", "18"}),
                                               variation(15, {"1", "2"}), variation(0, {"especificado", "classico"})};
    const std::vector<StudyVariation> others = {variation(4, {"1.0", "2.0"}), variation(9, {"1e-6", "1e-8"}),
                                                variation(10, {"500", "900"}), variation(12, {"1e-3", "1e-4"}),
                                                variation(14, {"1.5", "1.9"})};
    const struct {
        const std::vector<StudyVariation>* variations;
        std::vector<std::string> values;
        bool without_grid;
        std::string label;
    } table[] = {
        {&solvers, {"1", "34", "34", "1e-8", "20000", "1.2", "2", "5"}, false, "Gauss-Seidel, 5 it. internas"},
        {&solvers, {"1", "34", "34", "1e-8", "20000", "1.2", "4", "1"}, false, "ADI, 1 it. interna"},
        {&grids, {"2", "18", "2", "classico"}, false, "malha 34 × 34, 2 malhas, c.c. senoidal, ciclo clássico"},
        {&grids, {"1", "10", "1", "especificado"}, true, "c.c. linear, ciclo especificado"},
        {&others,
         {"2.0", "1e-8", "900", "1e-4", "1.9"},
         false,
         "Lx = 2.0, tol. 1e-8, máx. 900 it., tol. MSI 1e-4, ω = 1.9"},
        {&solvers, {"1", "34", "34", "1e-8", "20000", "1.2", "'x", "1"}, false, "solver `x, 1 it. interna"},
    };
    for (const auto& c : table) {
        StudyRow row;
        row.run.values = c.values;
        row.nx = row.ny = 34;
        EXPECT_EQ(study_parts::study_plot_label(*c.variations, row, c.without_grid), c.label) << c.label;
    }
    StudyRow fixed;
    fixed.run.values = {"34"};
    EXPECT_EQ(study_parts::study_plot_label({variation(7, {"34"})}, fixed, false), "");
}

// The script of the pictures: drawn where it is run, twenty curves in twenty
// colours with a key below the plot, x tics that do not run together on a
// long history, the observed orders in two decimals, the times on
// logarithmic scales without lines between the points.
TEST(Study, PlotScriptOfAStudy)
{
    StudyOptions options;
    options.folder = "e";
    options.variations = {StudyVariation{7, {"10", "18"}}, StudyVariation{13, {}}};
    std::vector<StudyRow> rows;
    for (int n = 1; n <= 20; ++n) {
        StudyRow row;
        row.run = {n, "e/" + std::to_string(n), {n % 2 ? "10" : "18", std::to_string((n + 1) / 2)}};
        options.variations[1].values.push_back(std::to_string(n));
        row.nx = row.ny = n % 2 ? 10 : 18;
        row.h = 1.0 / (row.nx - 2);
        row.unknowns = (row.nx - 2) * (row.ny - 2);
        row.record.history.assign(20000, 0.5);
        row.record.seconds = 0.01 * n;
        row.record.error_max = 1.0 / n;
        if (n % 2 == 0) row.order_max = 1.68996;
        rows.push_back(row);
    }
    const auto plots = study_parts::study_plot_script(options, rows);
    EXPECT_EQ(plots.pictures, (std::vector<std::string>{"residuos.png", "erro_h.png", "tempo.png"}));
    const std::string& script = plots.script;
    const auto picture = [&script](const std::string& name) {
        const auto at = script.find("set output '" + name + "'");
        return at == std::string::npos ? std::string() : script.substr(at, script.find("set output", at + 1) - at);
    };
    std::set<std::string> colours;
    const std::string history = picture("residuos.png");
    for (std::size_t at = 0; (at = history.find(" lc rgb '", at)) != std::string::npos; ++at)
        colours.insert(history.substr(at, 17));
    EXPECT_EQ(colours.size(), 20u);
    for (const char* part :
         {"set output 'residuos.png'", "set output 'erro_h.png'", "set output 'tempo.png'", "set xtics 5000\n",
          "set key outside below", " 1.69\n", "with points", "title 'malha 18 × 18, 10 it. internas'",
          "lw 2 title '10 it. internas'", "title 'erro máx.'"})
        EXPECT_NE(script.find(part), std::string::npos) << part;
    for (const char* part : {"1.68996", "R7", "R13", "e/"}) EXPECT_EQ(script.find(part), std::string::npos) << part;
    EXPECT_EQ(picture("tempo.png").find("lines"), std::string::npos);
    // nothing to draw, no script
    for (auto& row : rows) row.record.history.clear(), row.status = "sem resultados";
    EXPECT_TRUE(study_parts::study_plot_script(options, rows).script.empty());
}

// The script stays beside the pictures, for `gnuplot estudo.gnu` there to
// draw them again; --coletar writes it again, never through a link, and
// without the plotting program too.
TEST(Study, PlotScriptIsKeptBesideThePictures)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    const std::string plotter = (std::filesystem::current_path() / "plotter").string();
    std::filesystem::create_directory(plotter);
    testing::write_study_plotter(plotter, "cp '" + plotter + "/whole.png' \"$f\"; cp \"$1\" '" + plotter + "/kept'");
    const auto o = run_program("estudo e --variar 7=6,10 --tarefas 2", "PATH='" + plotter + ":/usr/bin:/bin'");
    ASSERT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("e/estudo.gnu"), read_file(plotter + "/kept"));
    EXPECT_FALSE(std::filesystem::exists("e/.estudo.graficos"));
    write_file("fora.gnu", "de fora");
    std::filesystem::remove("e/estudo.gnu");
    std::filesystem::create_symlink("../fora.gnu", "e/estudo.gnu");
    const auto without = run_program("estudo e --coletar", "PATH='" + plotter + "/vazia'");
    EXPECT_EQ(without.exit_code, 0) << without.err;
    EXPECT_EQ(read_file("fora.gnu"), "de fora");
    EXPECT_FALSE(std::filesystem::is_symlink("e/estudo.gnu"));
    EXPECT_EQ(read_file("e/estudo.gnu"), read_file(plotter + "/kept"));
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "sem gnuplot";
    for (const char* picture : {"residuos.png", "erro_h.png", "tempo.png"})
        std::filesystem::remove(std::string("e/") + picture);
    ASSERT_EQ(std::system("cd e && gnuplot estudo.gnu 2>/dev/null"), 0);
    for (const char* picture : {"residuos.png", "erro_h.png", "tempo.png"})
        EXPECT_TRUE(png_is_whole(read_file(std::string("e/") + picture))) << picture;
}

}  // namespace
}  // namespace placatermo
