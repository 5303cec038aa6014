// Warnings for likely mistakes: one "aviso:" line each on standard error,
// naming the file, the line and the parameter; the run itself unchanged.
#include <gtest/gtest.h>

#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::ProgramRun;
using testing::read_file;
using testing::write_file;

struct MistakeCase {
    std::string name;
    int record;
    std::string value;
    std::string warning;
};

std::vector<MistakeCase> mistakes()
{
    const std::string file = "aviso: arquivo \"placatermo.ent\", ";
    return {
        {"DecimalCommaInALength", 4, "0,5",
         file + "linha 4, parâmetro \"comprimento do domínio de cálculo na direção X\": \"0,5\" foi lido como 0: o "
                "separador decimal é o ponto (0.5)"},
        {"DecimalCommaInAnInteger", 13, "5,0",
         file + "linha 13, parâmetro \"número máximo de iterações internas\": \"5,0\" foi lido como 5: o separador "
                "decimal é o ponto (5.0)"},
        {"DecimalCommaWithExponent", 9, "1,5e-6",
         file + "linha 9, parâmetro \"tolerância do problema\": \"1,5\" foi lido como 1: o separador decimal é o "
                "ponto (1.5)"},
        {"NegativeLength", 5, "-1.0",
         file + "linha 5, parâmetro \"comprimento do domínio de cálculo na direção Y\": \"-1.0\" não é um "
                "comprimento maior que zero: os resultados não terão sentido"},
        {"ZeroLength", 4, "0",
         file + "linha 4, parâmetro \"comprimento do domínio de cálculo na direção X\": \"0\" não é um comprimento "
                "maior que zero: os resultados não terão sentido"},
        {"NegativeTolerance", 9, "-1e-6",
         file + "linha 9, parâmetro \"tolerância do problema\": \"-1e-6\" é negativa: a razão das normas nunca chega "
                "a ela e todas as iterações externas serão feitas"},
        {"NoSuchSolver", 11, "7",
         file + "linha 11, parâmetro \"solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI\": \"7\" não é um "
                "solver (1 a 5): nenhum solver será executado e a temperatura fica zero"},
        {"NoSuchBoundaryCondition", 15, "3",
         file + "linha 15, parâmetro \"1:c.c.linear; 2:c.c.senoidal\": \"3\" não é 1 nem 2: lido como c.c. "
                "senoidal"},
    };
}

class InputMistake : public ::testing::TestWithParam<MistakeCase> {};

// Each mistake on its own gives exactly its one line, and the run completes.
TEST_P(InputMistake, GivesOneWarningNamingItsLine)
{
    const auto& c = GetParam();
    InputRecords r;
    r.max_outer_iterations = "1";
    std::vector<std::string> values = r.values();
    values[static_cast<std::size_t>(c.record - 1)] = c.value;
    std::string text;
    for (const auto& v : values) text += v + "   = label\r\n";
    ProgramRun p;
    write_file("placatermo.ent", text);
    p.start(true);
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.platform.warnings, std::vector<std::string>{c.warning});
}

INSTANTIATE_TEST_SUITE_P(Table, InputMistake, ::testing::ValuesIn(mistakes()),
                         [](const auto& info) { return info.param.name; });

TEST(Warnings, SorRelaxationOutsideZeroToTwoOnlyWithSor)
{
    for (const char* solver : {"3", "2"}) {
        InputRecords r;
        r.max_outer_iterations = "1";
        r.solver_kind = solver;
        r.sor_relaxation = "2.0";
        ProgramRun p;
        write_file("placatermo.ent", r.text("\r\n"));
        p.start(true);
        if (std::string(solver) == "3")
            EXPECT_EQ(p.platform.warnings,
                      std::vector<std::string>{"aviso: arquivo \"placatermo.ent\", linha 14, parâmetro \"coeficiente "
                                               "de relaxação do SOR\": \"2.0\" está fora do intervalo (0, 2): o SOR "
                                               "não converge"});
        else
            EXPECT_TRUE(p.platform.warnings.empty());
    }
}

TEST(Warnings, NoneForTheDefaultExperiment)
{
    ProgramRun p;
    p.start(true);
    EXPECT_EQ(p.error, "");
    EXPECT_TRUE(p.platform.warnings.empty());
}

// The written files are the same with and without the warning.
TEST(Warnings, LeaveTheFilesAsTheyWere)
{
    InputRecords r;
    r.bc_kind = "3";
    std::string with_warning, without;
    for (const char* bc : {"3", "2"}) {
        r.bc_kind = bc;
        ProgramRun p;
        write_file("placatermo.ent", r.text("\r\n"));
        p.start(true);
        (std::string(bc) == "3" ? with_warning : without) = read_file("placa.res");
    }
    // the echo shows the number as read
    const auto echo = with_warning.find("       3               = 1:c.c.linear; 2:c.c.senoidal");
    ASSERT_NE(echo, std::string::npos);
    with_warning[echo + 7] = '2';
    EXPECT_EQ(with_warning, without);
}

TEST(Warnings, DivergedIterationAtTheEnd)
{
    InputRecords r;
    r.solver_kind = "3";  // the default relaxation 1.5 makes this SOR diverge
    r.max_outer_iterations = "200";
    ProgramRun p;
    write_file("placatermo.ent", r.text("\r\n"));
    p.start(true);
    ASSERT_EQ(p.platform.warnings.size(), 1u);
    const std::string start = "aviso: arquivo \"placa.res\": a iteração divergiu (norma L1 / norma it.=1 = ";
    EXPECT_EQ(p.platform.warnings[0].substr(0, start.size()), start);
    const std::string end =
        " na iteração externa 200): os resultados não têm sentido; experimente um coeficiente de relaxação do SOR "
        "menor";
    EXPECT_EQ(p.platform.warnings[0].substr(p.platform.warnings[0].size() - end.size()), end);
}

TEST(Warnings, ProgramsThatCouldNotBeStartedAreNamedOnce)
{
    ProgramRun p;
    p.platform.status = 127;  // what the shell answers for a missing program
    p.start();
    EXPECT_EQ(p.error, "");
    EXPECT_EQ(p.platform.warnings,
              (std::vector<std::string>{
                  "aviso: o editor de texto não pôde ser iniciado (comando editor 'placatermo.ent'): escolha outro "
                  "com a variável EDITOR, por exemplo EDITOR=nano",
                  "aviso: o programa de gráficos não pôde ser iniciado (comando plot 'Tx.gnu'): instale o gnuplot "
                  "(no Debian e no Ubuntu, como root: apt-get install gnuplot-nox)"}));
    EXPECT_EQ(p.platform.commands.size(), 4u);
}

// A program that is not found is not started at all, and is named once for
// the whole run (the two profiles and the pictures), editor and plotter each.
TEST(Warnings, ProgramsNotFoundAreNotStartedAndNamedOnce)
{
    const struct {
        std::vector<std::string> missing;
        std::vector<std::string> warnings;
        std::size_t commands;
    } table[] = {
        {{"plot", "editor"},
         {"aviso: o editor de texto (editor) não foi encontrado: escolha outro com a variável EDITOR, por exemplo "
          "EDITOR=nano",
          "aviso: o programa de gráficos (plot) não foi encontrado: instale o gnuplot (no Debian e no Ubuntu, como "
          "root: apt-get install gnuplot-nox)"},
         0},
        {{"plot"},
         {"aviso: o programa de gráficos (plot) não foi encontrado: instale o gnuplot (no Debian e no Ubuntu, como "
          "root: apt-get install gnuplot-nox)"},
         2},
        {{"editor"},
         {"aviso: o editor de texto (editor) não foi encontrado: escolha outro com a variável EDITOR, por exemplo "
          "EDITOR=nano"},
         3},
    };
    for (const auto& row : table) {
        ProgramRun p;
        p.platform.missing = row.missing;
        p.run.options.pictures = true;
        p.start();
        EXPECT_EQ(p.error, "");
        EXPECT_EQ(p.platform.warnings, row.warnings) << row.missing.size();
        EXPECT_EQ(p.platform.commands.size(), row.commands) << row.missing[0];
        for (const auto& command : p.platform.commands)
            EXPECT_EQ(command.find(row.missing[0]), std::string::npos) << command;
    }
}

}  // namespace
}  // namespace placatermo
