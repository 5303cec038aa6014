// The program driver: stamps, the run's commands and files, and failures that
// must leave earlier results untouched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>

#include "base/errors.hpp"
#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::FakePlatform;
using testing::InputRecords;
using testing::ProgramRun;
using testing::read_file;
using testing::TempDir;
using testing::write_file;

struct StampCase {
    const char* name;
    LocalTime time;
    const char* date;
    const char* clock;
};

class Stamps : public ::testing::TestWithParam<StampCase> {};

TEST_P(Stamps, AreNotFilledWithZeros)
{
    EXPECT_EQ(make_date_string(GetParam().time).view(), GetParam().date);
    EXPECT_EQ(make_time_string(GetParam().time).view(), GetParam().clock);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, Stamps,
    ::testing::Values(StampCase{"SingleDigitsNotPadded", {2006, 7, 8, 9, 5, 7}, "(8/7/2006)  ", "9:5:7   "},
                      StampCase{"TwoDigitsEverywhere", {2006, 12, 25, 14, 30, 45}, "(25/12/2006)", "14:30:45"},
                      StampCase{"ThreeDigitYearPadded", {999, 3, 4, 0, 0, 0}, "(4/3/999 )  ", "0:0:0   "},
                      StampCase{"FiveDigitYearCut", {12345, 10, 11, 1, 2, 3}, "(11/10/1234)", "1:2:3   "},
                      StampCase{"DayTwoDigitsMonthOne", {2026, 1, 31, 14, 5, 7}, "(31/1/2026) ", "14:5:7  "},
                      StampCase{"Midnight", {2026, 1, 1, 0, 0, 0}, "(1/1/2026)  ", "0:0:0   "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PlotTitle, CutsTheApostropheThenTheDate)
{
    const std::string fifty(50, 'T');
    EXPECT_EQ(make_plot_title(fifty, "(8/7/2006)  ").view(), fifty + " (8/7/2006)'");
    EXPECT_EQ(make_plot_title(fifty, "(25/12/2006)").view(), fifty + " (25/12/2006");
    EXPECT_EQ(make_plot_title(fifty.substr(1), "(25/12/2006)").view(), fifty.substr(1) + " (25/12/2006)");
    EXPECT_EQ(make_plot_title("Placa   ", "(8/7/2006)  ").view(), "Placa (8/7/2006)'" + std::string(45, ' '));
}

// What the title line of a plot script holds after "set title '": the
// title's apostrophes doubled, the 62 characters as they were otherwise.
struct QuotedTitle {
    const char* name;
    std::string title, date, field;
};

class PlotTitleField : public ::testing::TestWithParam<QuotedTitle> {};

TEST_P(PlotTitleField, DoublesOnlyTheTitlesApostrophes)
{
    const auto& c = GetParam();
    const FixedText<62> plot_title = make_plot_title(c.title, c.date);
    EXPECT_EQ(plot_title_field(plot_title.view()), c.field);
    if (c.title.find('\'') == std::string::npos) {
        EXPECT_EQ(plot_title_field(plot_title.view()), plot_title.view());
    }
}

std::string repeated(const std::string& text, int times)
{
    std::string out;
    for (int n = 0; n < times; ++n) out += text;
    return out;
}

std::string padded(std::string text)
{
    if (text.size() < 62) text.resize(62, ' ');
    return text;
}

// Bytes without a Windows-1252 character would make gnuplot give up on the
// whole title: they reach it as '?', and every other byte as it is.
TEST(PlotTitle, BytesWithoutACharacterBecomeQuestionMarks)
{
    EXPECT_EQ(plot_title_field(make_plot_title("a\x81\x8D\x8F\x90\x9D\x80\x8E\xE1", "(8/7/2006)  ").view()),
              padded("a?????\x80\x8E\xE1 (8/7/2006)'"));
}

INSTANTIATE_TEST_SUITE_P(
    Titles, PlotTitleField,
    ::testing::Values(
        QuotedTitle{"Plain", "Placa quadrada", "(8/7/2006)  ", padded("Placa quadrada (8/7/2006)'")},
        QuotedTitle{"Apostrophe", "Placa d'\xE1gua", "(8/7/2006)  ", padded("Placa d''\xE1gua (8/7/2006)'")},
        QuotedTitle{"GnuplotCommand", "a'; system('touch PWNED'); x='", "(25/12/2006)",
                    padded("a''; system(''touch PWNED''); x='' (25/12/2006)'")},
        QuotedTitle{"BackquotesAndMacros", "`touch X` @m \"q\" \\", "(8/7/2006)  ",
                    padded("`touch X` @m \"q\" \\ (8/7/2006)'")},
        QuotedTitle{"FiftyLettersCut", std::string(50, 'T'), "(25/12/2006)", std::string(50, 'T') + " (25/12/2006"},
        QuotedTitle{"FiftyApostrophesClosed", std::string(50, '\''), "(8/7/2006)  ",
                    repeated("'.\"'\".'", 50) + " (8/7/2006)'"},
        QuotedTitle{"FiftyApostrophesCut", std::string(50, '\''), "(25/12/2006)",
                    repeated("'.\"'\".'", 50) + " (25/12/2006"},
        QuotedTitle{"ApostropheFirst", "'a'' b", "(1/1/2026)  ", padded("'.\"'\".'a'''.\"'\".' b (1/1/2026)'")},
        QuotedTitle{"ApostropheLast", "fim'", "(1/1/2026)  ", padded("fim'' (1/1/2026)'")}),
    [](const auto& info) { return std::string(info.param.name); });

// A whole run with the fake platform in a fresh folder.
TEST(Program, FirstRunWritesTheDefaultInputAndShowsBothFiles)
{
    ProgramRun p;
    p.start();
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(read_file("placatermo.ent"), default_input_file());
    EXPECT_EQ(p.platform.window_title, "PLACATERMO (Difusão de Calor Bidimensional Permanente)");
    EXPECT_EQ(p.platform.commands, (std::vector<std::string>{"editor 'placatermo.ent'", "plot 'Tx.gnu'",
                                                             "plot 'Ty.gnu'", "editor 'placa.res'"}));
    const std::string results = read_file("placa.res");
    const std::string head =
        "\r\n"
        "     Dia = (8/7/2006)       Hora = 9:5:7   \r\n"
        "\r\n"
        "t\xEDtulo = Placa quadrada, c.c. linear                       \r\n"
        "\r\n"
        "     DADOS\r\n"
        "placa.res              = nome do experimento num\xE9rico\r\n"
        "placa.dis              = nome do arquivo de resultados (discretiza\xE7\xE3o)\r\n"
        "placa.ite              = nome do arquivo de resultados (iterativos)\r\n"
        "       1.000000000E+00 = comprimento do dom\xEDnio de c\xE1lculo na dire\xE7\xE3o X\r\n"
        "       1.000000000E+00 = comprimento do dom\xEDnio de c\xE1lculo na dire\xE7\xE3o Y\r\n"
        "       3               = n\xFAmero de malhas\r\n"
        "      18               = n\xFAmero de volumes na dire\xE7\xE3o X (malha mais fina)\r\n"
        "      18               = n\xFAmero de volumes na dire\xE7\xE3o Y (malha mais fina)\r\n"
        "     324               = n\xFAmero total de volumes (malha mais fina)\r\n"
        "       2               = solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI\r\n"
        "       1.000000000E-06 = toler\xE2ncia do problema\r\n"
        "    1000               = n\xFAmero m\xE1ximo de itera\xE7\xF5"
        "es externas\r\n"
        "       1.000000000E-03 = toler\xE2ncia no MSI\r\n"
        "       5               = n\xFAmero m\xE1ximo de itera\xE7\xF5"
        "es internas\r\n"
        "       1.500000000E+00 = coeficiente de relaxa\xE7\xE3o do SOR\r\n"
        "       1               = 1:c.c.linear; 2:c.c.senoidal\r\n"
        "\r\n"
        "\r\n"
        "  Itera\xE7\xE3o   Norma L1 / norma it.=1\r\n"
        "         1   1.000000E+00\r\n";
    EXPECT_EQ(results.substr(0, head.size()), head);
    const std::string tail = "\r\n\r\n     5.000000000E-01 = tempo de processamento (s)\r\n";
    EXPECT_EQ(results.substr(results.size() - tail.size()), tail);
    EXPECT_EQ(read_file("placa.dis").substr(0, 65),
              "     6.2500000000000000000E-02 = dx          Dia = (8/7/2006)  \r\n");
    EXPECT_EQ(read_file("Tx.gnu").substr(read_file("Tx.gnu").size() - 83),
              "set title 'Placa quadrada, c.c. linear (8/7/2006)'" + std::string(23, ' ') + "\r\nreplot\r\n");
}

TEST(Program, BatchRunsNoEditor)
{
    ProgramRun p;
    p.start(true);
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.platform.commands, (std::vector<std::string>{"plot 'Tx.gnu'", "plot 'Ty.gnu'"}));
}

// What gnuplot says while it draws reaches the user: an empty axis range
// (a zero length in the input) once, in Portuguese, whatever gnuplot puts
// before it; the count of an animation's frames not at all; anything else
// as it is.
TEST(Program, PlotterErrorsAsTheUserReadsThem)
{
    const std::string empty_x =
        "aviso: Tx.png: o eixo x não tem extensão (todos os valores são 0) e foi desenhado de "
        "-1 a 1 (um comprimento zero ou um campo constante na entrada?)";
    const std::pair<std::string, std::vector<std::string>> table[] = {
        {"", {}},
        {"Warning: empty x range [0:0], adjusting to [-1:1]\n"
         "\"Tx.gnu\" line 8: warning: Warning: empty x range [0:0], adjusting to [-1:1]\r\n",
         {empty_x}},
        {"Warning: empty x range [0:0], adjusting to [-1:1]\nWarning: empty y range [2.5:2.5], adjusting to "
         "[2.475:2.525]\n",
         {"aviso: Tx.png: o eixo x não tem extensão (todos os valores são 0) e foi desenhado de -1 a 1; o eixo y não "
          "tem extensão (todos os valores são 2.5) e foi desenhado de 2.475 a 2.525 (um comprimento zero ou um "
          "campo constante na entrada?)"}},
        {"linha 3: aviso\n52 frames in animation sequence\nWarning: empty x range [0:0], adjusting to [-1:1]\n",
         {"linha 3: aviso", empty_x}},
        {"\n\n", {}},
        {"Warning: empty x range\n", {"Warning: empty x range"}},
    };
    for (const auto& [said, warnings] : table) {
        ProgramRun p;
        p.platform.plot_errors = said;
        p.start(true);
        // the profile along x said first, then the same for the one along y
        const auto& seen = p.platform.warnings;
        ASSERT_EQ(seen.size(), 2 * warnings.size()) << said;
        EXPECT_EQ(std::vector<std::string>(seen.begin(), seen.begin() + std::ssize(warnings)), warnings) << said;
    }
}

TEST(Program, FailedCommandsDoNotStopTheRun)
{
    ProgramRun p;
    p.platform.status = -1;
    p.start();
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.platform.commands.size(), 4u);
}

TEST(Program, BadInputLeavesEarlierResultsUntouched)
{
    ProgramRun p;
    InputRecords r;
    r.grid_count = "zero";
    write_file("placatermo.ent", r.text("\r\n"));
    write_file("placa.res", "earlier results");
    write_file("placa.dis", "earlier summary");
    p.start(true);
    EXPECT_EQ(p.error,
              "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": "
              "\"zero\" não é um número inteiro");
    EXPECT_EQ(read_file("placa.res"), "earlier results");
    EXPECT_EQ(read_file("placa.dis"), "earlier summary");
    EXPECT_FALSE(std::filesystem::exists("Tx.dat"));
    EXPECT_TRUE(p.platform.commands.empty());
}

TEST(Program, InputRemovedInTheEditorIsAnEmptyFile)
{
    struct Remover : FakePlatform {
        int run_command(const std::string& command) override
        {
            std::filesystem::remove("placatermo.ent");
            return FakePlatform::run_command(command);
        }
    };
    TempDir dir;
    Remover platform;
    RunContext run(platform);
    EXPECT_THROW(run_program(run), FatalError);
    EXPECT_EQ(read_file("placatermo.ent"), "");
}

// Gauss-Seidel on one grid holds t and b: 16 bytes a volume.
TEST(Program, HugeGridIsRefusedBeforeAnyFileIsWritten)
{
    InputRecords r;
    r.nx = "40000";
    r.ny = "40000";
    EXPECT_THROW(check_memory(r.parse(), 16.0 * 1024 * 1024 * 1024), FatalError);
    try {
        check_memory(r.parse(), 16.0 * 1024 * 1024 * 1024);
    } catch (const FatalError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "erro no arquivo \"placatermo.ent\", linhas 6 a 8, parâmetros \"número de malhas\" e \"número de "
                  "volumes\": a malha mais fina de 40000 x 40000 volumes precisa de 23.8 GiB de memória, e esta "
                  "máquina tem 16.0 GiB");
    }
    r.nx = "1026";
    r.ny = "1026";
    EXPECT_NO_THROW(check_memory(r.parse(), 16.0 * 1024 * 1024 * 1024));
}

TEST(Program, ResultsFileThatCannotBeCreated)
{
    ProgramRun p;
    std::filesystem::create_directory("placa.res");
    p.start(true);
    EXPECT_EQ(p.error, "não foi possível criar o arquivo \"placa.res\": é um diretório");
}

// The cycle asked for on the command line stands in the results file, right
// after the parameters; without the option nothing is added.
TEST(Program, ChosenCycleIsRecordedAfterTheParameters)
{
    const std::string echo_end = "   = 1:c.c.linear; 2:c.c.senoidal\r\n";
    for (const auto& [cycle, line] :
         {std::pair{std::optional<MultigridCycle>{}, std::string()},
          std::pair{std::optional{MultigridCycle::textbook},
                    std::string("classico               = ciclo multigrid (--multigrid)\r\n")},
          std::pair{std::optional{MultigridCycle::specified},
                    std::string("especificado           = ciclo multigrid (--multigrid)\r\n")}}) {
        ProgramRun p;
        p.run.options.cycle = cycle;
        p.start(true);
        const std::string results = read_file("placa.res");
        const auto after_echo = results.find(echo_end) + echo_end.size();
        EXPECT_EQ(results.substr(after_echo, line.size() + 4), line + "\r\n\r\n");
    }
}

}  // namespace
}  // namespace placatermo
