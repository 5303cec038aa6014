// The real program under hostile names and faults: titles that try to run
// gnuplot commands, names that are one file under another spelling, a disk
// that fills up, and two runs at once in one folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <set>
#include <sys/wait.h>
#include <thread>

#include "cli_support.hpp"
#include "platform/files.hpp"
#include "run_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::Outcome;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;

bool has_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

// With the real gnuplot: whatever the title holds, both plots are drawn and
// nothing in it is run.
class HostileTitle : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileTitle, DrawsThePlotsAndRunsNothing)
{
    if (!has_gnuplot()) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    InputRecords r;
    r.title = GetParam();
    write_file("placatermo.ent", r.text("\r\n"));
    const Outcome o = run_program("--batch", "PATH=/usr/bin:/bin");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    for (const char* picture : {"Tx.png", "Ty.png"}) {
        const std::string bytes = read_file(picture);
        EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << picture;
        EXPECT_GT(bytes.size(), 5000u) << picture;
    }
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
}

INSTANTIATE_TEST_SUITE_P(Titles, HostileTitle,
                         ::testing::Values("\"Placa d'\xE1gua\"", "\"a'; system('touch PWNED'); x='\"",
                                           "\"x' . system('touch PWNED') . '\"", "\"'\"",
                                           "\"`touch PWNED` '; !touch PWNED\"",
                                           "\"''''''''''''''''''''''''''''''''''''''''''''''''''\""));

// Two names in the input (or one and a name of the program) that lead to one
// file: refused before anything is written, naming both; the input and the
// earlier files stay as they were.
struct OneFile {
    const char* name;
    std::map<int, std::string> records;  // records of the input replaced
    void (*prepare)();                   // links and folders made first
    const char* folder;                  // where the run starts
    const char* arguments;
    std::string message;
};

std::vector<OneFile> one_file_cases()
{
    const std::string input = "erro de leitura no arquivo \"placatermo.ent\", ";
    const std::string results = "linha 1, parâmetro \"nome do experimento numérico\"";
    const std::string summary = "linha 2, parâmetro \"nome do arquivo de resultados (discretização)\"";
    const std::string taken = " é de outro arquivo do programa e não pode ser usado aqui (";
    const std::string same = "o arquivo de resultados (discretização) não pode ter o mesmo nome do experimento (";
    return {
        {"SummaryIsTheInput",
         {{2, "'./placatermo.ent'"}},
         [] {},
         ".",
         "--batch",
         input + summary + ": o nome \"./placatermo.ent\"" + taken +
             "\"./placatermo.ent\" é o mesmo arquivo que \"placatermo.ent\", o arquivo de entrada)"},
        {"SummaryIsTheResults",
         {{2, "'./placa.res'"}},
         [] {},
         ".",
         "--batch",
         input + summary + ": " + same + "\"./placa.res\" é o mesmo arquivo que \"placa.res\", " + results + ")"},
        {"ResultsIsThePlotScript",
         {{1, "'../al/Tx.gnu'"}},
         [] { fs::create_directory("al"); },
         "al",
         "--batch",
         input + results + ": o nome \"../al/Tx.gnu\"" + taken +
             "\"../al/Tx.gnu\" é o mesmo arquivo que \"Tx.gnu\", o script do gráfico em x)"},
        {"SummaryLinkToResults",
         {{2, "ligacao.dis"}},
         [] { fs::create_symlink("placa.res", "ligacao.dis"); },
         ".",
         "--batch",
         input + summary + ": " + same + "\"ligacao.dis\" é o mesmo arquivo que \"placa.res\", " + results + ")"},
        {"DanglingLinkToResults",
         {{1, "novo.res"}, {2, "solta.dis"}},
         [] { fs::create_symlink("novo.res", "solta.dis"); },
         ".",
         "--batch",
         input + summary + ": " + same + "\"solta.dis\" é o mesmo arquivo que \"novo.res\", " + results + ")"},
        {"ResultsIsThePicture",
         {{1, "'./Tx.png'"}},
         [] {},
         ".",
         "--batch",
         input + results + ": o nome \"./Tx.png\"" + taken +
             "\"./Tx.png\" é o mesmo arquivo que \"Tx.png\", o gráfico em x)"},
        {"ResultsThroughAFolder",
         {{1, "'sub/../Ty.gnu'"}},
         [] { fs::create_directory("sub"); },
         ".",
         "--batch",
         input + results + ": o nome \"sub/../Ty.gnu\"" + taken +
             "\"sub/../Ty.gnu\" é o mesmo arquivo que \"Ty.gnu\", o script do gráfico em y)"},
        {"SummaryIsAPicture",
         {{2, "'./campo.png'"}},
         [] {},
         ".",
         "--batch --graficos",
         input + summary + ": o nome \"./campo.png\"" + taken +
             "\"./campo.png\" é o mesmo arquivo que \"campo.png\", a figura campo.png (--graficos))"},
        {"SummaryIsTheAnimation",
         {{2, "'./iteracoes.gif'"}},
         [] {},
         ".",
         "--batch --animacao",
         input + summary + ": o nome \"./iteracoes.gif\"" + taken +
             "\"./iteracoes.gif\" é o mesmo arquivo que \"iteracoes.gif\", a animação iteracoes.gif (--animacao))"},
        {"ResultsIsTheLevelsPicture",
         {{1, "'niveis.png'"}, {6, "2"}},
         [] {},
         ".",
         "--batch --graficos",
         input + results + ": o nome \"niveis.png\"" + taken +
             "\"niveis.png\" é o mesmo arquivo que \"niveis.png\", a figura niveis.png (--graficos))"},
        {"SummaryIsTheEarlierFilesFolder",
         {{2, "'placatermo.anterior'"}},
         [] {},
         ".",
         "--batch",
         input + summary + ": o nome \"placatermo.anterior\"" + taken +
             "\"placatermo.anterior\" é o mesmo arquivo que \"placatermo.anterior\", a pasta dos arquivos da "
             "execução anterior)"},
        {"InputLinkToThePlotScript",
         {},
         [] { fs::create_symlink("placatermo.ent", "Tx.gnu"); },
         ".",
         "--batch",
         "os arquivos \"Tx.gnu\", o script do gráfico em x, e \"placatermo.ent\", o arquivo de entrada, são o mesmo "
         "arquivo: a execução gravaria um sobre o outro; nenhum arquivo foi gravado"},
        {"VtkLinkToTheInput",
         {},
         [] { fs::create_symlink("placatermo.ent", "placa.vtk"); },
         ".",
         "--batch --vtk",
         input + results + ": o nome \"placa.res\"" + taken +
             "\"placa.vtk\", o arquivo VTK (--vtk) é o mesmo arquivo que \"placatermo.ent\", o arquivo de entrada)"},
    };
}

class OneFileTwoNames : public ::testing::TestWithParam<OneFile> {};

TEST_P(OneFileTwoNames, IsRefusedBeforeAnythingIsWritten)
{
    const auto& c = GetParam();
    TempDir dir;
    c.prepare();
    fs::current_path(c.folder);
    InputRecords r;
    for (const auto& [record, value] : c.records) {
        if (record == 1) r.experiment_name = value;
        if (record == 2) r.discretization_file_name = value;
        if (record == 6) r.grid_count = value;
    }
    const std::string input = r.text("\r\n");
    write_file("placatermo.ent", input);
    const Outcome o = run_program(c.arguments);
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(o.err, "placatermo: erro: " + c.message + "\n");
    EXPECT_EQ(read_file("placatermo.ent"), input);
    for (const char* file : {"Tx.dat", "Ty.dat", "placa.dis", "Tx.gnu", "novo.res"})
        EXPECT_FALSE(fs::exists(file) && !fs::is_symlink(file)) << file;
}

INSTANTIATE_TEST_SUITE_P(Names, OneFileTwoNames, ::testing::ValuesIn(one_file_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// As with the same spelling, a VTK file whose name is the summary's gets the
// results file's name with ".vtk".
TEST(OneFileTwoNames, VtkBesideASummaryOfItsNameTakesAnother)
{
    TempDir dir;
    InputRecords r;
    r.discretization_file_name = "'./placa.vtk'";
    write_file("placatermo.ent", r.text("\r\n"));
    const Outcome o = run_program("--batch --vtk");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("placa.res.vtk").substr(0, 27), "# vtk DataFile Version 3.0\n");
    EXPECT_NE(read_file("placa.vtk").find("Temperatura Central"), std::string::npos);
}

// The files of a complete run in the working folder, by name.
std::map<std::string, std::string> folder_files(const fs::path& folder = ".")
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path());
    return files;
}

InputRecords grid_of(const char* volumes)
{
    InputRecords r;
    r.nx = volumes;
    r.ny = volumes;
    return r;
}

// A run that fails after it began to write (the files may not grow beyond a
// few KiB, as on a full disk): the earlier complete files wait in
// placatermo.anterior, the new results file holds what was written, and the
// next complete run leaves exactly the files of a run in a fresh folder.
TEST(EarlierFiles, KeptWhenAWriteFails)
{
    TempDir dir;
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    ASSERT_EQ(run_program().exit_code, 0);
    const auto earlier = folder_files();
    write_file("placatermo.ent", grid_of("68").text("\r\n"));
    const std::string limited = "sh -c 'trap \"\" XFSZ; ulimit -f 16; exec \"$0\" \"$@\"'";
    const Outcome failed = run_program("--batch", limited);
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err,
              "placatermo: erro: erro ao gravar o arquivo \"placa.res\": arquivo grande demais\n"
              "os arquivos completos da execução anterior estão em \"placatermo.anterior\"\n");
    for (const auto& [name, bytes] : earlier)
        if (name != "placatermo.ent") {
            EXPECT_EQ(read_file(fs::path("placatermo.anterior") / name), bytes) << name;
        }
    EXPECT_EQ(read_file("placa.res").substr(0, 9), "\r\n     Di");
    EXPECT_FALSE(fs::exists("placa.dis"));

    // a second failure keeps the same complete files
    const Outcome again = run_program("--batch", limited);
    EXPECT_EQ(again.exit_code, 1);
    EXPECT_EQ(read_file("placatermo.anterior/placa.res"), earlier.at("placa.res"));

    const Outcome complete = run_program();
    EXPECT_EQ(complete.exit_code, 0) << complete.err;
    EXPECT_FALSE(fs::exists("placatermo.anterior"));
    std::set<std::string> names;
    for (const auto& [name, bytes] : folder_files()) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"Tx.dat", "Tx.gnu", "Tx.png", "Ty.dat", "Ty.gnu", "Ty.png", "placa.dis",
                                            "placa.res", "placatermo.ent"}));
}

// Earlier files that cannot all be set aside (here the scripts cannot be
// copied; the library reports the cut copy as an input/output error): the
// run stops before writing, with the folder as it was.
TEST(EarlierFiles, NotSetAsideHalfway)
{
    TempDir dir;
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    ASSERT_EQ(run_program().exit_code, 0);
    // a script header longer than the files may grow
    std::string script = read_file("Tx.gnu");
    script.insert(0, "# " + std::string(3000, '-') + "\r\n");
    write_file("Tx.gnu", script);
    const auto earlier = folder_files();
    const Outcome o = run_program("--batch", "sh -c 'trap \"\" XFSZ; ulimit -f 2; exec \"$0\" \"$@\"'");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(o.err,
              "placatermo: erro: não foi possível guardar o arquivo \"Tx.gnu\" da execução anterior na pasta "
              "\"placatermo.anterior\": erro de entrada/saída; nenhum arquivo foi gravado\n");
    EXPECT_EQ(folder_files(), earlier);
    EXPECT_FALSE(fs::exists("placatermo.anterior"));
}

// The same on a real file system of 64 KiB, where the machine lets the test
// mount one.
TEST(EarlierFiles, KeptOnAFullDisk)
{
    TempDir dir;
    fs::create_directory("disco");
    if (std::system("mount -t tmpfs -o size=64k tmpfs disco 2>/dev/null") != 0)
        GTEST_SKIP() << "não foi possível montar um tmpfs de 64 KiB (é preciso ser root)";
    fs::current_path("disco");
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    const Outcome first = run_program();
    const auto earlier = folder_files();
    write_file("placatermo.ent", grid_of("68").text("\r\n"));
    const Outcome full = run_program();
    fs::current_path("..");
    const auto kept = folder_files("disco/placatermo.anterior");
    const std::string results = read_file("disco/placa.res");
    std::system("umount disco");
    EXPECT_EQ(first.exit_code, 0) << first.err;
    EXPECT_EQ(full.exit_code, 1);
    EXPECT_EQ(full.err,
              "placatermo: erro: erro ao gravar o arquivo \"placa.res\": não há espaço livre no dispositivo\n"
              "os arquivos completos da execução anterior estão em \"placatermo.anterior\"\n");
    for (const auto& [name, bytes] : earlier)
        if (name != "placatermo.ent") {
            EXPECT_EQ(kept.at(name), bytes) << name;
        }
    EXPECT_EQ(results.substr(0, 9), "\r\n     Di");
}

// A run killed (kill -9) while it writes: the earlier files are whole in
// placatermo.anterior, no lock is left behind, and the next run completes.
TEST(EarlierFiles, KeptWhenTheRunIsKilled)
{
    TempDir dir;
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    ASSERT_EQ(run_program().exit_code, 0);
    const auto earlier = folder_files();
    testing::write_endless_input();
    const pid_t child = testing::start_program({"--batch"});
    // the new run's results (90000 volumes) with some history lines
    const auto writing = [] {
        const std::string results = read_file("placa.res");
        return results.find("   90000") != std::string::npos && results.find("        20   ") != std::string::npos;
    };
    for (int wait = 0; wait < 200 && !writing(); ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    for (const auto& [name, bytes] : earlier)
        if (name != "placatermo.ent") {
            EXPECT_EQ(read_file(fs::path("placatermo.anterior") / name), bytes) << name;
        }
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    const Outcome next = run_program();
    EXPECT_EQ(next.exit_code, 0) << next.err;
    EXPECT_FALSE(fs::exists("placatermo.anterior"));
}

// Two runs in one folder: the second is refused at once and the first one's
// results are its own.
TEST(OneRunPerFolder, SecondRunIsRefused)
{
    TempDir dir;
    testing::write_endless_input();
    const pid_t child = testing::start_program({"--batch"});
    for (int wait = 0; wait < 200 && read_file("placa.res").find("        20   ") == std::string::npos; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    InputRecords other;
    other.experiment_name = "outro.res";
    other.discretization_file_name = "outro.dis";
    write_file("placatermo.ent", other.text("\r\n"));
    const Outcome second = run_program();
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(second.exit_code, 1);
    EXPECT_EQ(second.err, "placatermo: erro: já há uma execução do placatermo em andamento na pasta \"" +
                              fs::current_path().string() +
                              "\" (ela bloqueia o arquivo \"placatermo.ent\"): espere que ela termine, ou rode esta "
                              "em outra pasta\n");
    EXPECT_FALSE(fs::exists("outro.res"));
    ASSERT_TRUE(WIFEXITED(status));
    // the first run's history: one line per iteration, in order, nothing else
    const std::string results = read_file("placa.res");
    const auto history = results.find("Norma L1 / norma it.=1\r\n") + 24;
    for (std::size_t p = history, k = 1; p < results.size(); p += 27, ++k)
        ASSERT_EQ(std::stoul(results.substr(p, 10)), k);
}

// The runs of a study take the same lock, on their own folder's input.
TEST(OneRunPerFolder, StudyRunsTakeTheLock)
{
    testing::ProgramRun p;
    fs::create_directory("001");
    write_file("001/placatermo.ent", InputRecords{}.text("\r\n"));
    const auto held = FileLock::try_lock("001/placatermo.ent");
    ASSERT_TRUE(held);
    p.run.folder = "001";
    p.start(true);
    EXPECT_EQ(p.error, "já há uma execução do placatermo em andamento na pasta \"" +
                           (fs::current_path() / "001").string() +
                           "\" (ela bloqueia o arquivo \"001/placatermo.ent\"): espere que ela termine, ou rode esta "
                           "em outra pasta");
    EXPECT_FALSE(fs::exists("001/placa.res"));
}

// The lock opens the input first: its failures say what the reader and the
// writer of the input said before.
TEST(OneRunPerFolder, InputThatCannotBeCreatedIsNamedAsBefore)
{
    TempDir dir;
    // root writes into any folder of its own; /sys refuses it too
    if (geteuid() == 0)
        fs::current_path("/sys");
    else
        fs::permissions(".", fs::perms::owner_read | fs::perms::owner_exec);
    const Outcome o = run_program();
    fs::current_path(dir.path());
    fs::permissions(".", fs::perms::owner_all);
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(o.err, "placatermo: erro: não foi possível criar o arquivo \"placatermo.ent\": permissão negada\n");
}

}  // namespace
}  // namespace placatermo
