// The input reader: reading rules, derived grid sizes and the messages for
// bad input.
#include <gtest/gtest.h>

#include "base/errors.hpp"
#include "input/input.hpp"
#include "test_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;

std::string error_of(const std::string& text)
{
    try {
        parse_input_data(text);
    } catch (const FatalError& error) {
        return error.what();
    }
    return "";
}

TEST(Input, ReadsTheExampleFile)
{
    const InputParameters in = parse_input_data(default_input_file());
    EXPECT_EQ(in.experiment_name.view(), "placa.res           ");
    EXPECT_EQ(in.discretization_file_name.trimmed(), "placa.dis");
    EXPECT_EQ(in.iterations_file_name.trimmed(), "placa.ite");
    EXPECT_EQ(in.lx, 1.0);
    EXPECT_EQ(in.ly, 1.0);
    EXPECT_EQ(in.grid_count, 3);
    EXPECT_EQ(in.grids.nx, (std::vector<std::int32_t>{6, 10, 18}));
    EXPECT_EQ(in.grids.ny, (std::vector<std::int32_t>{6, 10, 18}));
    EXPECT_EQ(in.grids.volume_count, (std::vector<std::int32_t>{36, 100, 324}));
    EXPECT_EQ(in.grids.total_volume_count, 460);
    EXPECT_EQ(in.tolerance, 1.0e-6);
    EXPECT_EQ(in.max_outer_iterations, 1000);
    EXPECT_EQ(in.solver_kind, 2);
    EXPECT_EQ(in.msi_tolerance, 1.0e-3);
    EXPECT_EQ(in.max_inner_iterations, 5);
    EXPECT_EQ(in.sor_relaxation, 1.5);
    EXPECT_EQ(in.bc_kind, 1);
    EXPECT_EQ(in.title.view(), "Placa quadrada, c.c. linear                       ");
}

TEST(Input, DefaultFileIsWindows1252WithCrLf)
{
    const std::string file = default_input_file();
    EXPECT_EQ(file.substr(0, 50), "placa.res         = nome do experimento num\xE9rico\r\n");
    EXPECT_EQ(file.substr(file.size() - 42), "'Placa quadrada, c.c. linear'   = t\xEDtulo\r\n");
}

TEST(Input, TwoGridsDeriveSizes)
{
    InputRecords r;
    r.grid_count = "2";
    r.nx = "6";
    r.ny = "4";
    const InputParameters in = r.parse();
    EXPECT_EQ(in.grids.nx, (std::vector<std::int32_t>{6, 10}));
    EXPECT_EQ(in.grids.ny, (std::vector<std::int32_t>{4, 6}));
    EXPECT_EQ(in.grids.volume_count, (std::vector<std::int32_t>{24, 60}));
    EXPECT_EQ(in.grids.total_volume_count, 84);
}

TEST(Input, OneGridKeepsRecordsSevenAndEight)
{
    InputRecords r;
    r.nx = "7";
    r.ny = "9";
    const InputParameters in = r.parse();
    EXPECT_EQ(in.grids.nx, (std::vector<std::int32_t>{7}));
    EXPECT_EQ(in.grids.total_volume_count, 63);
}

struct TextCase {
    const char* name;
    const char* line;
    const char* title;  // the 50-character title read from it, trimmed
};

class TitleReading : public ::testing::TestWithParam<TextCase> {};

TEST_P(TitleReading, Reads)
{
    InputRecords r;
    r.title = GetParam().line;
    EXPECT_EQ(r.parse().title.trimmed(), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, TitleReading,
    ::testing::Values(TextCase{"QuotedWithCommaAndSlash", "'a, b / c'", "a, b / c"},
                      TextCase{"DoubleQuotedWithDoubledQuotes", "\"dito \"\"x\"\" y\"", "dito \"x\" y"},
                      TextCase{"DoubledApostrophe", "'it''s'", "it's"},
                      TextCase{"BareEndsAtComma", "bare,rest", "bare"},
                      TextCase{"BareEndsAtSlash", "bare/rest", "bare"}, TextCase{"BareEndsAtTab", "bare\trest", "bare"},
                      TextCase{"LeadingBlanksSkipped", "  \t  indented", "indented"},
                      TextCase{"SemicolonKept", "semi;colon", "semi;colon"},
                      TextCase{"CutToFiftyCharacters", "'12345678901234567890123456789012345678901234567890EXTRA'",
                               "12345678901234567890123456789012345678901234567890"},
                      TextCase{"UnclosedQuoteAfterClosedOne", "'closed' rest 'ignored", "closed"},
                      TextCase{"Latin1ByteKept", "caf\xE9", "caf\xE9"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Input, BareNameEndsAtFirstBlankAndIsPadded)
{
    InputRecords r;
    r.experiment_name = "placa.res   comment";
    EXPECT_EQ(r.parse().experiment_name.view(), "placa.res           ");
    r.experiment_name = "a_name_longer_than_twenty";
    EXPECT_EQ(r.parse().experiment_name.view(), "a_name_longer_than_t");
}

struct DoubleCase {
    const char* name;
    const char* text;
    double value;
};

class DoubleReading : public ::testing::TestWithParam<DoubleCase> {};

TEST_P(DoubleReading, Reads)
{
    InputRecords r;
    r.tolerance = GetParam().text;
    EXPECT_EQ(r.parse().tolerance, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Doubles, DoubleReading,
    ::testing::Values(DoubleCase{"ExponentE", "1.0e-6", 1.0e-6}, DoubleCase{"ExponentD", "1.0d-6", 1.0e-6},
                      DoubleCase{"ExponentCapitalD", "1.0D-6", 1.0e-6}, DoubleCase{"ExponentQ", "1.0q-6", 1.0e-6},
                      DoubleCase{"ExponentCapitalQWithoutPoint", "1Q-6", 1.0e-6}, DoubleCase{"Integer", "5", 5.0},
                      DoubleCase{"NegativeWithoutLeadingZero", "-.5", -0.5},
                      DoubleCase{"PlusSignTrailingPoint", "+2.", 2.0}, DoubleCase{"PlusSignInExponent", "1e+3", 1000.0},
                      DoubleCase{"OneTenth", "0.1", 0.1}, DoubleCase{"UnderflowToZero", "1e-400", 0.0},
                      DoubleCase{"CommaEndsTheNumber", "1,5", 1.0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Input, IntegersWithSign)
{
    InputRecords r;
    r.max_outer_iterations = "+12";
    r.bc_kind = "-3";
    const InputParameters in = r.parse();
    EXPECT_EQ(in.max_outer_iterations, 12);
    EXPECT_EQ(in.bc_kind, -3);
    r.max_outer_iterations = "2147483647";
    EXPECT_EQ(r.parse().max_outer_iterations, 2147483647);
    r.max_outer_iterations = "-2147483648";
    EXPECT_EQ(r.parse().max_outer_iterations, -2147483648);
}

TEST(Input, LineEndsBlankLinesAndByteOrderMark)
{
    InputRecords r;
    const InputParameters lf = r.parse();
    const InputParameters crlf = parse_input_data(r.text("\r\n"));
    EXPECT_EQ(crlf.title, lf.title);
    EXPECT_EQ(crlf.experiment_name, lf.experiment_name);
    EXPECT_EQ(crlf.bc_kind, lf.bc_kind);
    std::string no_last_end = r.text();
    no_last_end.pop_back();
    EXPECT_EQ(parse_input_data(no_last_end).title, lf.title);
    // a bare value on a CR LF line does not keep the CR
    std::string bare_last = InputRecords{}.text("\r\n");
    bare_last.replace(bare_last.rfind("'Placa"), std::string::npos, "Bare\r\n");
    EXPECT_EQ(parse_input_data(bare_last).title.trimmed(), "Bare");
    const InputParameters blanks = parse_input_data("\n\n   \n\t\n" + r.text("\n\n"));
    EXPECT_EQ(blanks.title, lf.title);
    EXPECT_EQ(blanks.record_line[1], 5);
    EXPECT_EQ(blanks.record_line[2], 7);
    EXPECT_EQ(parse_input_data("\xEF\xBB\xBF" + r.text()).experiment_name, lf.experiment_name);
}

struct BadInput {
    std::string name;
    int record;           // the record that is changed (0: the whole file is `file`)
    std::string value;    // new text of that line
    std::string message;  // the complete message
};

class BadInputs : public ::testing::TestWithParam<BadInput> {};

TEST_P(BadInputs, StopWithMessageNamingFileLineAndParameter)
{
    const BadInput& c = GetParam();
    InputRecords r;
    std::vector<std::string> lines = r.values();
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i)
        text += (static_cast<int>(i + 1) == c.record ? c.value : lines[i] + "   = label") + "\n";
    EXPECT_EQ(error_of(text), c.message);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BadInputs,
    ::testing::Values(
        BadInput{"LettersForInteger", 6, "abc",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": \"abc\" "
                 "não é um número inteiro"},
        BadInput{"DecimalForInteger", 10, "6.5",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 10, parâmetro \"número máximo de iterações "
                 "externas\": \"6.5\" não é um número inteiro"},
        BadInput{"BeyondThirtyTwoBits", 13, "2147483648",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 13, parâmetro \"número máximo de iterações "
                 "internas\": \"2147483648\" está fora do intervalo dos inteiros de 32 bits (de -2147483648 a "
                 "2147483647)"},
        BadInput{"LettersForDouble", 4, "um",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 4, parâmetro \"comprimento do domínio de "
                 "cálculo na direção X\": \"um\" não é um número real"},
        BadInput{"NaNWord", 9, "NaN",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 9, parâmetro \"tolerância do problema\": "
                 "\"NaN\" não é um número real"},
        BadInput{"InfinityWord", 14, "Infinity",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 14, parâmetro \"coeficiente de relaxação do "
                 "SOR\": \"Infinity\" não é um número real"},
        BadInput{"DoubleOverflow", 5, "1e400",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 5, parâmetro \"comprimento do domínio de "
                 "cálculo na direção Y\": \"1e400\" está fora do intervalo dos números reais de precisão dupla"},
        BadInput{"ExponentWithoutDigits", 12, "1.0e",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 12, parâmetro \"tolerância no MSI\": "
                 "\"1.0e\" não é um número real"},
        BadInput{"QuotedNumber", 15, "'1'",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 15, parâmetro \"1:c.c.linear; "
                 "2:c.c.senoidal\": \"1\" não é um número inteiro"},
        BadInput{"MissingValueComma", 7, ", 5",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 7, parâmetro \"número de volumes na direção X "
                 "da malha 1\": o valor está faltando no início da linha"},
        BadInput{"MissingValueSlash", 1, "/ nada",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 1, parâmetro \"nome do experimento "
                 "numérico\": o valor está faltando no início da linha"},
        BadInput{"UnterminatedQuote", 16, "'Placa sem fim",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 16, parâmetro \"título\": o texto aberto com "
                 "apóstrofo não foi fechado na mesma linha"},
        BadInput{"NulByte", 3, std::string("pla\0ca", 6),
                 "erro de leitura no arquivo \"placatermo.ent\", linha 3, parâmetro \"nome do arquivo de resultados "
                 "(iterativos)\": o texto contém um caractere de controle (byte 0)"},
        BadInput{"GridCountZero", 6, "0",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": 0 está "
                 "fora do intervalo permitido (1 ou mais malhas)"},
        BadInput{"GridCountNegative", 6, "-1",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": -1 está "
                 "fora do intervalo permitido (1 ou mais malhas)"},
        BadInput{"GridCountForty", 6, "40",
                 "erro no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": com a malha 1 de 5 x "
                 "4 volumes, 40 malhas excedem o limite de 2147483647 volumes (inteiros de 32 bits); o intervalo "
                 "permitido é de 1 a 14"},
        BadInput{"NxTwo", 7, "2",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 7, parâmetro \"número de volumes na direção X "
                 "da malha 1\": 2 está fora do intervalo permitido (3 ou mais, os dois volumes fictícios "
                 "incluídos)"},
        BadInput{"FinestGridOverflow", 8, "1000000000",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 8, parâmetro \"número de volumes na direção Y "
                 "da malha 1\": a malha 1 de 5 x 1000000000 volumes excede o limite de 2147483647 volumes (inteiros "
                 "de 32 bits)"},
        BadInput{"BlankSummaryName", 2, "''",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 2, parâmetro \"nome do arquivo de resultados "
                 "(discretização)\": o nome de arquivo está em branco"},
        BadInput{"SummaryNameIsResultsName", 2, "placa.res",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 2, parâmetro \"nome do arquivo de resultados "
                 "(discretização)\": o arquivo de resultados (discretização) não pode ter o mesmo nome do "
                 "experimento"},
        BadInput{"ResultsNameIsInputFile", 1, "placatermo.ent",
                 "erro de leitura no arquivo \"placatermo.ent\", linha 1, parâmetro \"nome do experimento "
                 "numérico\": o nome \"placatermo.ent\" é de outro arquivo do programa e não pode ser usado aqui"},
        BadInput{"NoInnerIterationsIsValidForGaussSeidel", 13, "0", ""}),
    [](const auto& info) { return info.param.name; });

// Names of results and summary files: accepted or refused on Linux and on
// Windows. A folder is never a file; Windows also reads devices, drives and
// folder parts as other places than a file of the run's folder.
TEST(Input, FileNamesOnEachSystem)
{
    // clang-format off
    const char* const accepted[] = {"placa.res", "Placa quadrada.dis", "x&y^z!w%a%.res", "conexao.res", "COM10",
                                    "console", "NULO.res", "LPT", "CONIN"};
    const char* const folders[] = {".", "..", "sub/", "sub/.", "../..", "/"};
    const char* const refused_on_windows[] = {
        "...", "sub/caso.res", "../caso.res", "..\\out.res", "sub\\", "\\caso.res", "C:out.res", "c:\\x.res",
        "\\\\?\\C:\\x", "\\\\.\\NUL", "//srv/pasta/x", "NUL", "NUL.txt", "nul.res", "AUX.dis", "CON", "con .res",
        "Prn.a.b", "NUL.", "NUL ", "COM1", "com9.dis", "LPT1.res", "lpt0", "COM\xB9.res", "CONIN$", "conout$.txt",
        "caso.res.", "a:b", "a?b", "a*b", "a<b>c", "a|b", "a\"b", "a\tb"};
    // clang-format on
    for (const char* name : accepted) {
        EXPECT_EQ(file_name_problem(name, false), "") << name;
        EXPECT_EQ(file_name_problem(name, true), "") << name;
    }
    for (const char* name : folders) {
        EXPECT_NE(file_name_problem(name, false), "") << name;
        EXPECT_NE(file_name_problem(name, true), "") << name;
    }
    for (const char* name : refused_on_windows) {
        EXPECT_EQ(file_name_problem(name, false), "") << name;
        EXPECT_NE(file_name_problem(name, true), "") << name;
    }
    // the reason, as the reader's message gives it
    const std::pair<const char*, const char*> reasons[] = {
        {"..", "o nome \"..\" é de uma pasta, não de um arquivo; escreva o nome de um arquivo"},
        {"nul.res",
         "o nome \"nul.res\" é o do dispositivo NUL do Windows (com qualquer extensão), não o de um arquivo; escolha "
         "outro nome"},
        {"..\\out.res",
         "o nome \"..\\out.res\" tem uma pasta (\"..\\\"): os arquivos da execução ficam na pasta do arquivo de "
         "entrada; escreva só o nome do arquivo"},
        {"C:out.res",
         "o nome \"C:out.res\" começa por uma unidade (\"C:\"): os arquivos da execução ficam na pasta do arquivo de "
         "entrada; escreva só o nome do arquivo"},
        {"\\\\?\\C:\\x",
         "o nome \"\\\\?\\C:\\x\" é um caminho de rede ou de dispositivo do Windows (\\\\servidor\\, \\\\?\\, "
         "\\\\.\\): "
         "os arquivos da execução ficam na pasta do arquivo de entrada; escreva só o nome do arquivo"},
        {"a?b",
         "o nome \"a?b\" tem o caractere \"?\", que não pode estar num nome de arquivo no Windows; escolha outro "
         "nome"},
        {"caso.res.",
         "o nome \"caso.res.\" termina em ponto, e o Windows tira os pontos do fim de um nome; escreva o nome sem "
         "eles"},
    };
    for (const auto& [name, reason] : reasons) EXPECT_EQ(file_name_problem(name, true), reason) << name;
    // the reader refuses them with the line and the parameter, on its own system
    InputRecords r;
    r.discretization_file_name = "'.'";
    EXPECT_EQ(error_of(r.text()),
              "erro de leitura no arquivo \"placatermo.ent\", linha 2, parâmetro \"nome do arquivo "
              "de resultados (discretização)\": o nome \".\" é de uma pasta, não de um arquivo; "
              "escreva o nome de um arquivo");
    r = InputRecords{};
    r.experiment_name = "'NUL.txt'";
    EXPECT_EQ(error_of(r.text()).empty(), !windows_file_names);
}

TEST(Input, MsiNeedsInnerIterations)
{
    InputRecords r;
    r.solver_kind = "5";
    r.max_inner_iterations = "0";
    EXPECT_EQ(error_of(r.text()),
              "erro de leitura no arquivo \"placatermo.ent\", linha 13, parâmetro \"número máximo de iterações "
              "internas\": 0 está fora do intervalo permitido para o solver MSI (1 ou mais)");
}

TEST(Input, EndOfFileNamesTheMissingRecord)
{
    EXPECT_EQ(error_of(""),
              "fim do arquivo \"placatermo.ent\" após a linha 0: falta o parâmetro \"nome do experimento numérico\" "
              "(registro 1 de 16)");
    const std::vector<std::string> values = InputRecords{}.values();
    for (std::size_t cut = 1; cut < values.size(); ++cut) {
        std::string text;
        for (std::size_t i = 0; i < cut; ++i) text += values[i] + "\r\n";
        const std::string message = error_of(text);
        EXPECT_EQ(message, "fim do arquivo \"placatermo.ent\" após a linha " + std::to_string(cut) +
                               ": falta o parâmetro \"" + std::string(record_label(static_cast<int>(cut) + 1)) +
                               "\" (registro " + std::to_string(cut + 1) + " de 16)");
    }
}

TEST(Input, HugeGridCountIsRefusedBeforeItsArraysAreCreated)
{
    // found by fuzzing: 666666661 grids made the reader create arrays of that size
    InputRecords r;
    r.grid_count = "666666661";
    EXPECT_EQ(error_of(r.text()),
              "erro no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": com a malha 1 de 5 x 4 "
              "volumes, 666666661 malhas excedem o limite de 2147483647 volumes (inteiros de 32 bits); o intervalo "
              "permitido é de 1 a 14");
}

TEST(Input, LongLineIsReadUpToItsValue)
{
    InputRecords r;
    r.title = "'short' " + std::string(1 << 20, 'x');
    EXPECT_EQ(r.parse().title.trimmed(), "short");
}

TEST(Input, MemoryNeedGrowsWithTheGrid)
{
    InputRecords r;
    r.nx = "1026";
    r.ny = "1026";
    const double gs = required_memory_bytes(r.parse());
    EXPECT_DOUBLE_EQ(gs, 1026.0 * 1026.0 * 2 * 8);  // t and b: the stencil needs no table
    r.solver_kind = "5";
    EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse()), 1026.0 * 1026.0 * 17 * 8);
}

// The memory check counts the arrays a run holds: b and, where the system
// is a stencil for the point iterations, no table; each grid's residual and
// correction (none on the finest grid); the smoother's kept arrays; t; the
// finest call's work arrays.
// Grids 4 x 4, 6 x 6, 10 x 10 (16, 36 and 100 volumes); a 3 x 3 grid is too
// small for a stencil and keeps its table.
TEST(Input, MemoryNeedCountsTheArraysHeld)
{
    const struct {
        const char* solver;
        const char* grid_count;
        const char* n;
        double doubles;
    } cases[] = {
        {"2", "3", "4", 3 * 16 + 3 * 36 + 2 * 100 + 100},           // Gauss-Seidel
        {"1", "3", "4", 4 * 16 + 4 * 36 + 3 * 100 + 100},           // Jacobi: t_old of every grid
        {"3", "3", "4", 4 * 16 + 4 * 36 + 3 * 100 + 100},           // SOR: t_old of every grid
        {"4", "3", "4", 8 * 16 + 8 * 36 + 7 * 100 + 100 + 200},     // ADI: table, tdma_p, tdma_q
        {"5", "3", "4", 15 * 16 + 15 * 36 + 14 * 100 + 100 + 300},  // MSI: table, factors, work
        {"2", "2", "3", 8 * 9 + 2 * 16 + 16},                       // 3 x 3: the table
        {"2", "1", "4", 2 * 16},                                    // one grid: t and b
    };
    for (const auto& c : cases) {
        InputRecords r;
        r.solver_kind = c.solver;
        r.grid_count = c.grid_count;
        r.nx = c.n;
        r.ny = c.n;
        EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse()), c.doubles * 8)
            << "solver " << c.solver << ", " << c.grid_count << " grids from " << c.n;
    }
    // the textbook cycle keeps no residual (its restriction computes them),
    // and its red-black sweeps (two or more a visit) b of the finest grid's
    // ghost volumes alone (2 * 10 + 2 * 8)
    InputRecords r;
    r.grid_count = "3";
    r.nx = "4";
    r.ny = "4";
    EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse(), MultigridCycle::textbook), (2 * 16 + 2 * 36 + 36 + 100) * 8);
    r.max_inner_iterations = "1";
    EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse(), MultigridCycle::textbook), (2 * 16 + 2 * 36 + 100 + 100) * 8);
    EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse(), MultigridCycle::fast), (2 * 16 + 2 * 36 + 36 + 100) * 8);
    EXPECT_DOUBLE_EQ(required_memory_bytes(r.parse(), MultigridCycle::specified),
                     (3 * 16 + 3 * 36 + 2 * 100 + 100) * 8);
}

}  // namespace
}  // namespace placatermo
