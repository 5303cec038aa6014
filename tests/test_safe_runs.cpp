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

// Stop signals and file-size limits, as a fault matrix over the real program.
// Each run has a private TMPDIR and a folder of stub programs first on its
// PATH, and runs in a process group of its own, as under a shell.
struct Stopped {
    int exit_code = -1;  // -1: ended by a signal; -2: still running after 20 s
    std::string err;
    bool temporary_left = false;
};

class StopBench {
public:
    StopBench() : tools_(fs::current_path() / "ferramentas"), temporary_(fs::current_path() / "tmp")
    {
        fs::create_directories(tools_);
        fs::create_directories(temporary_);
        // a plotting program that draws at once, unless a case says otherwise
        write_file(tools_ / "gnuplot", "#!/bin/sh\n" + testing::stub_draws_its_pictures);
        fs::permissions(tools_ / "gnuplot", fs::perms::owner_all);
        fs::create_directories("pasta");
        fs::current_path("pasta");
    }
    ~StopBench() { fs::current_path(".."); }

    // A stub named `name` that, called with an argument holding `moment`,
    // writes its process number in the file `stub_marker` of its working
    // folder and then does not end by itself (nor when asked, with `deaf`);
    // otherwise it ends at once.
    void stub(const char* name, const char* moment, bool deaf = false)
    {
        write_file(tools_ / name, std::string("#!/bin/sh\ncase \"$1\" in *") + moment + ") ;; *)\n" +
                                      testing::stub_draws_its_pictures + "exit 0;; esac\n" +
                                      (deaf ? "trap '' INT TERM\n" : "") + "echo $$ > " + stub_marker + "\nsleep 30\n");
        fs::permissions(tools_ / name, fs::perms::owner_all);
    }
    // The real gnuplot behind a stub that says when it starts on `moment`.
    void real_plotter(const char* moment)
    {
        write_file(tools_ / "gnuplot", std::string("#!/bin/sh\ncase \"$1\" in *") + moment + ") echo $$ > " +
                                           stub_marker + ";; esac\nexec /usr/bin/gnuplot \"$@\"\n");
        fs::permissions(tools_ / "gnuplot", fs::perms::owner_all);
    }
    static bool stub_started() { return !read_file(stub_marker).empty(); }
    static constexpr const char* stub_marker = "comecou";

    // Starts the program with `arguments` (under `limit` blocks of file size
    // when not 0) and, once it is `ready`, sends `signal` to it, or to its
    // process group, `times` times 0.1 s apart; then waits for its end, up to
    // 20 s.
    Stopped run(const std::vector<std::string>& arguments, bool (*ready)(), int signal, bool group, int times = 1,
                int limit = 0)
    {
        std::vector<std::string> words{
            "/bin/sh", "-c",
            "ulimit -f " + (limit > 0 ? std::to_string(limit) : std::string("unlimited")) + "; exec \"$0\" \"$@\"",
            PLACATERMO_EXE};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<std::string> environment{"PATH=" + tools_.string() + ":/usr/bin:/bin",
                                             "TMPDIR=" + temporary_.string(), "EDITOR=editor"};
        std::vector<char*> argv, envp;
        for (auto& word : words) argv.push_back(word.data());
        for (auto& entry : environment) envp.push_back(entry.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            setpgid(0, 0);
            std::freopen("/dev/null", "r", stdin);
            std::freopen("../stderr.txt", "w", stderr);
            execve("/bin/sh", argv.data(), envp.data());
            _exit(127);
        }
        const auto waited = [](auto done, int tenths) {
            for (int wait = 0; wait < tenths * 2 && !done(); ++wait)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            return done();
        };
        int status = 0;
        bool reaped = false;
        const auto ended = [&] { return reaped || (reaped = waitpid(child, &status, WNOHANG) == child); };
        bool over = false;
        if (times > 0 && !waited([&] { return (over = ended()) || ready(); }, 200))
            ADD_FAILURE() << "the run never got to the moment";
        for (int k = 0; k < times && !over; ++k) {
            if (k > 0) std::this_thread::sleep_for(std::chrono::milliseconds(100));
            kill(group ? -child : child, signal);
        }
        Stopped outcome;
        if (over || waited(ended, 200))
            outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        else {
            outcome.exit_code = -2;
            kill(-child, SIGKILL);
            waitpid(child, &status, 0);
        }
        outcome.err = read_file("../stderr.txt");
        outcome.temporary_left = !fs::is_empty(temporary_);
        // the stub that was drawing ends with the run
        if (const std::string stub = read_file(stub_marker); !stub.empty()) {
            const std::string stat = "/proc/" + std::to_string(std::stoi(stub)) + "/stat";
            const auto gone = [&] {
                const std::string text = read_file(stat);
                return text.empty() || text.find(") Z ") != std::string::npos;
            };
            EXPECT_TRUE(waited(gone, 30)) << "the stub still runs";
        }
        return outcome;
    }

private:
    fs::path tools_, temporary_;
};

// Some history lines of the endless input's run (90000 volumes).
bool iterating()
{
    const std::string results = read_file("placa.res");
    return results.find("   90000") != std::string::npos && results.find("        20   ") != std::string::npos;
}

struct StopMoment {
    const char* name;
    std::vector<std::string> arguments;
    void (*prepare)(StopBench&);  // the stubs and the input
    bool (*ready)();              // the moment to send the signal
    int signal;
    bool group;
    int times;
    std::string message;  // how the message begins
};

const std::string interrupted = "placatermo: erro: execução interrompida ";

// The error that ends a run, after the warnings of its pictures.
std::string error_message(const std::string& err)
{
    const auto start = err.find("placatermo: erro: ");
    return start == std::string::npos ? err : err.substr(start);
}

const std::string while_writing = interrupted + "depois das iterações, enquanto os arquivos eram gravados\n";

std::vector<StopMoment> stop_moments()
{
    return {
        // while the editor shows the input, before anything is written: the
        // editor is the user's, and the run waits for it
        {"EditorOpen_SIGINT_Group",
         {},
         [](StopBench& b) { b.stub("editor", "placatermo.ent"); },
         StopBench::stub_started,
         SIGINT,
         true,
         1,
         interrupted + "antes de começar a gravar; nenhum arquivo de resultados foi gravado\n"},
        {"Iterations_SIGINT_Group",
         {"--batch"},
         [](StopBench&) { testing::write_endless_input(); },
         iterating,
         SIGINT,
         true,
         1,
         interrupted + "na iteração externa "},
        {"Iterations_SIGTERM_Process",
         {"--batch"},
         [](StopBench&) { testing::write_endless_input(); },
         iterating,
         SIGTERM,
         false,
         1,
         interrupted + "na iteração externa "},
        {"ProfileDraws_SIGINT_Group",
         {"--batch"},
         [](StopBench& b) { b.stub("gnuplot", "Tx.gnu"); },
         StopBench::stub_started,
         SIGINT,
         true,
         1,
         while_writing},
        {"ProfileDraws_SIGTERM_Process",
         {"--batch"},
         [](StopBench& b) { b.stub("gnuplot", "Tx.gnu"); },
         StopBench::stub_started,
         SIGTERM,
         false,
         1,
         while_writing},
        {"DeafPlotter_SIGINT_Group",
         {"--batch", "--vtk", "--json"},
         [](StopBench& b) { b.stub("gnuplot", "Ty.gnu", true); },
         StopBench::stub_started,
         SIGINT,
         true,
         1,
         while_writing},
        {"DeafPlotter_SIGTERM_Process",
         {"--batch", "--graficos"},
         [](StopBench& b) { b.stub("gnuplot", "graficos.gnu", true); },
         StopBench::stub_started,
         SIGTERM,
         false,
         1,
         while_writing},
        {"PicturesDraw_SIGINT_Group",
         {"--batch", "--graficos", "--animacao"},
         [](StopBench& b) { b.stub("gnuplot", "graficos.gnu"); },
         StopBench::stub_started,
         SIGINT,
         true,
         1,
         while_writing},
        {"AnimationDraws_SIGTERM_Process",
         {"--batch", "--animacao", "--json"},
         [](StopBench& b) { b.stub("gnuplot", "animacao.gnu"); },
         StopBench::stub_started,
         SIGTERM,
         false,
         1,
         interrupted},
        // a second signal ends the run at once within an outer iteration
        // that would take hours; two signals while a plotter that ignores
        // them draws end it too, whichever ends it first
        {"SecondSignal_LongIteration",
         {"--batch"},
         [](StopBench&) {
             InputRecords r = grid_of("300");
             r.max_inner_iterations = "2000000000";
             r.msi_tolerance = "1e-300";
             r.solver_kind = "5";
             write_file("placatermo.ent", r.text("\r\n"));
         },
         [] {
             const std::string results = read_file("placa.res");
             return results.find("   90000") != std::string::npos &&
                    results.find("Norma L1 / norma it.=1") != std::string::npos;
         },
         SIGTERM,
         false,
         2,
         interrupted},
        {"SecondSignal_SIGINT_Group",
         {"--batch", "--graficos"},
         [](StopBench& b) { b.stub("gnuplot", "graficos.gnu", true); },
         StopBench::stub_started,
         SIGINT,
         true,
         2,
         interrupted},
        {"SecondSignal_SIGTERM_Process",
         {"--batch", "--animacao"},
         [](StopBench& b) { b.stub("gnuplot", "animacao.gnu", true); },
         StopBench::stub_started,
         SIGTERM,
         false,
         2,
         interrupted},
    };
}

class StopSignal : public ::testing::TestWithParam<StopMoment> {};

// Whenever it comes: exit 1 with the message, the earlier files whole (set
// aside when the run had begun to write, and the message says where), no
// temporary folder left, no hang.
TEST_P(StopSignal, EndsTheRunKeepingTheEarlierFiles)
{
    const StopMoment& c = GetParam();
    TempDir dir;
    StopBench bench;
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    ASSERT_EQ(run_program("--batch --vtk --json").exit_code, 0);
    const auto earlier = folder_files();
    c.prepare(bench);
    const Stopped o = bench.run(c.arguments, c.ready, c.signal, c.group, c.times);
    EXPECT_EQ(o.exit_code, 1) << o.err;
    EXPECT_EQ(error_message(o.err).substr(0, c.message.size()), c.message) << o.err;
    EXPECT_FALSE(o.temporary_left);
    const bool set_aside = fs::exists("placatermo.anterior");
    EXPECT_EQ(
        o.err.find("os arquivos completos da execução anterior estão em \"placatermo.anterior\"") != std::string::npos,
        set_aside)
        << o.err;
    for (const auto& [name, bytes] : earlier)
        if (name != "placatermo.ent") {
            EXPECT_EQ(read_file(set_aside && fs::exists(fs::path("placatermo.anterior") / name)
                                    ? fs::path("placatermo.anterior") / name
                                    : fs::path(name)),
                      bytes)
                << name;
        }
}

INSTANTIATE_TEST_SUITE_P(Moments, StopSignal, ::testing::ValuesIn(stop_moments()),
                         [](const auto& info) { return std::string(info.param.name); });

// Ctrl-C to the process group while the real gnuplot draws the pictures:
// whether it comes while gnuplot runs or just after, the run ends with exit 1
// and its message, nothing in English, no temporary folder left.
TEST(StopSignal, WhileTheRealPlotterDraws)
{
    if (!has_gnuplot()) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    StopBench bench;
    write_file("placatermo.ent", grid_of("100").text("\r\n"));
    bench.real_plotter("graficos.gnu");
    for (const int signal : {SIGINT, SIGTERM}) {
        fs::remove(StopBench::stub_marker);
        const Stopped o = bench.run({"--batch", "--graficos"}, StopBench::stub_started, signal, signal == SIGINT);
        EXPECT_EQ(o.exit_code, 1) << o.err;
        EXPECT_EQ(error_message(o.err).substr(0, interrupted.size()), interrupted) << o.err;
        EXPECT_EQ(o.err.find("fault"), std::string::npos) << o.err;
        EXPECT_FALSE(o.temporary_left);
    }
}

// A limit on the size of files (ulimit -f, in blocks of 1 KiB) reached by any
// file of the run ends it as a full disk does, with the file named; the
// frames of the animation in the temporary folder cost only the animation.
TEST(FileSizeLimit, EndsAsAFullDisk)
{
    TempDir dir;
    StopBench bench;
    write_file("placatermo.ent", grid_of("12").text("\r\n"));
    ASSERT_EQ(run_program("--batch").exit_code, 0);
    write_file("placatermo.ent", grid_of("100").text("\r\n"));
    const std::vector<std::string> every_option{"--batch", "--vtk", "--json", "--graficos", "--animacao"};
    for (const int limit : {1, 8, 64, 200}) {
        const Stopped o = bench.run(every_option, nullptr, 0, false, 0, limit);
        EXPECT_EQ(o.exit_code, 1) << limit << o.err;
        EXPECT_NE(o.err.find("\": arquivo grande demais\n"), std::string::npos) << limit << o.err;
        EXPECT_NE(o.err.find("os arquivos completos da execução anterior estão em \"placatermo.anterior\"\n"),
                  std::string::npos)
            << limit << o.err;
        EXPECT_FALSE(o.temporary_left) << limit;
    }
    const Stopped frames = bench.run({"--batch", "--vtk", "--json", "--animacao"}, nullptr, 0, false, 0, 2048);
    // only the animation's frames, in the temporary folder, are too large
    EXPECT_EQ(frames.exit_code, 1) << frames.err;
    const std::string not_drawn = "placatermo: erro: a figura \"iteracoes.gif\" não foi desenhada: ";
    EXPECT_EQ(frames.err.substr(0, not_drawn.size()), not_drawn) << frames.err;
    EXPECT_NE(frames.err.find("quadros.bin\": arquivo grande demais\nos resultados em texto estão completos\n"),
              std::string::npos)
        << frames.err;
    EXPECT_FALSE(frames.temporary_left);
}

}  // namespace
}  // namespace placatermo
