// The real program in a fresh folder: options, bad input of many kinds,
// files that cannot be written, and an interrupted run. Every failure must
// exit non-zero with a Portuguese message naming the file, and leave what was
// written before it.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>

#include "base/command_options.hpp"
#include "base/text.hpp"
#include "input/input.hpp"
#include "cli_support.hpp"
#include "results/animation.hpp"
#include "run/command_line.hpp"
#include "studies/study.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::Outcome;
using testing::quiet_plotter_folder;
using testing::read_file;
using testing::run_program;
using testing::small_gif;
using testing::stub_draws_its_pictures;
using testing::TempDir;
using testing::write_file;

// The option table's parsing and help list: how each kind of option takes
// its value, which arguments no option takes, and the list's columns.
TEST(Cli, OptionTableTakesAndListsItsOptions)
{
    struct Given {
        std::string taken;
    };
    const auto note = [](Given& g, std::string_view value) {
        g.taken += "[" + std::string(value) + "]";
        return value != "recusado";
    };
    using enum OptionValue;
    const CommandOption<Given> table[] = {
        {"cmd", none, OptionPlace::command, {}, "cmd", "um comando", note},
        {"--a", none, OptionPlace::optional, {}, "--a", "curta\nem duas linhas", note, "-a"},
        {"--longa=", joined, OptionPlace::optional, {}, "--longa=VALOR", "depois", note},
        {"--n", next, OptionPlace::optional, {}, {}, "fora da lista", note},
    };
    const std::span<const CommandOption<Given>> options(table);
    const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        // the arguments, what the options took, the index after the last taken
        {{"p", "cmd", "--a", "-a"}, "[][][]", 4},         {{"p", "--a", "cmd"}, "[]", 2},  // a command only first
        {{"p", "--longa=x,y", "--longa="}, "[x,y][]", 3}, {{"p", "--longa=recusado", "--a"}, "[recusado]", 1},
        {{"p", "--n", "v", "--a"}, "[v][]", 4},           {{"p", "--n"}, "", 1},  // without its value
        {{"p", "--longa", "--aa", "-"}, "", 1},
    };
    for (const auto& [arguments, taken, end] : cases) {
        std::vector<char*> argv;
        for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        Given given;
        int i = 1;
        for (; i < static_cast<int>(argv.size()); ++i)
            if (!take_option(options, static_cast<int>(argv.size()), argv.data(), i, given)) break;
        EXPECT_EQ(given.taken, taken) << arguments[1];
        EXPECT_EQ(i, end) << arguments[1];
    }
    EXPECT_EQ(option_list(options, 6),
              "  cmd     um comando\n"
              "  --a     curta\n"
              "          em duas linhas\n"
              "  --longa=VALOR\n"
              "          depois\n");
}

// The options the manual page (its synopsis, options and studies) and the
// bash completion name are those of the program's and the study's tables:
// none missing there, none there that the tables lack.
TEST(Cli, ManualAndCompletionNameTheOptionsOfTheTables)
{
    std::set<std::string> tables;
    const auto add = [&](std::string_view name) {
        // "--" ends the options (a folder follows); a value after '=' is the option's
        if (name.size() > 2 && name.starts_with("--")) tables.emplace(name.substr(0, name.find('=')));
    };
    for (const auto& option : program_options()) add(option.name);
    for (const auto name : study_option_names()) add(name);
    ASSERT_GT(tables.size(), 10u);
    const auto named_in = [](const std::string& text, const std::regex& pattern) {
        std::set<std::string> names;
        for (auto m = std::sregex_iterator(text.begin(), text.end(), pattern); m != std::sregex_iterator(); ++m)
            names.insert("--" + (*m)[1].str());
        return names;
    };
    // the manual writes a hyphen as \-; its other sections name other
    // programs' options (an editor's --wait)
    std::string manual;
    bool kept = false;
    std::istringstream lines(read_file(PLACATERMO_SOURCE_DIR "/packaging/placatermo.1"));
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(".SH "))
            kept = line == ".SH SINOPSE" || line == ".SH OP\\(,C\\(~OES" || line == ".SH ESTUDOS";
        else if (kept)
            manual += line + "\n";
    }
    const std::string completion = read_file(PLACATERMO_SOURCE_DIR "/packaging/placatermo.bash-completion");
    EXPECT_EQ(named_in(manual, std::regex(R"(\\-\\-([a-z]+))")), tables);
    EXPECT_EQ(named_in(completion, std::regex(R"(--([a-z]+))")), tables);
    for (const auto& option : program_options())
        if (option.place == OptionPlace::command) {
            EXPECT_NE(manual.find(".B placatermo " + std::string(option.name)), std::string::npos) << option.name;
            EXPECT_NE(completion.find("candidates=\"" + std::string(option.name) + " "), std::string::npos)
                << option.name;
        }
}

TEST(Cli, HelpAndUnknownArguments)
{
    TempDir dir;
    const Outcome help = run_program("--help");
    EXPECT_EQ(help.exit_code, 0);
    EXPECT_EQ(help.out.substr(0, help.out.find('\n') + 1),
              "Uso: placatermo [--batch] [--graficos] [--animacao] [--vtk] [--json] [--multigrid=CICLO] [--definir R=V] | "
              "--help | "
              "--version\n");
    EXPECT_FALSE(std::filesystem::exists("placatermo.ent"));
    for (const char* wrong : {"--multigrid=outro", "--multigrid"}) {
        const Outcome o = run_program(wrong);
        EXPECT_EQ(o.exit_code, 2) << wrong;
        EXPECT_EQ(o.err.substr(0, o.err.find('\n') + 1),
                  std::string("placatermo: argumento desconhecido: ") + wrong + "\n");
    }
    const Outcome bad = run_program("--fast");
    EXPECT_NE(bad.exit_code, 0);
    EXPECT_EQ(bad.err.substr(0, 44), "placatermo: argumento desconhecido: --fast\nU");
    // the same text as --help, which names the studies
    EXPECT_EQ(bad.err, "placatermo: argumento desconhecido: --fast\n" + help.out);
    EXPECT_NE(help.out.find("\n     placatermo estudo PASTA --variar "), std::string::npos);
    EXPECT_NE(help.out.find("\n  estudo      "), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("placatermo.ent"));
}

TEST(Cli, VersionIsTheProjectVersion)
{
    TempDir dir;
    const Outcome o = run_program("--version");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(o.out, "placatermo " PLACATERMO_VERSION "\n");
    EXPECT_EQ(o.err, "");
    EXPECT_TRUE(std::filesystem::is_empty("."));
}

TEST(Cli, FirstRunInAnEmptyFolderUsesTheEditorTwice)
{
    TempDir dir;
    // an editor that logs its arguments, one line per call
    write_file("editor.sh", "#!/bin/sh\nprintf '%s|' \"$@\" >> editor.log\necho >> editor.log\n");
    std::filesystem::permissions("editor.sh", std::filesystem::perms::owner_all);
    const Outcome o = run_program("", "VISUAL= EDITOR='./editor.sh --wait' PATH=/nonexistent:/usr/bin:/bin");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(read_file("editor.log"), "--wait|placatermo.ent|\n--wait|placa.res|\n");
    EXPECT_EQ(read_file("placatermo.ent"), default_input_file());
    for (const char* file : {"placa.res", "placa.dis", "Tx.dat", "Ty.dat", "Tx.gnu", "Ty.gnu"})
        EXPECT_TRUE(std::filesystem::exists(file)) << file;
}

TEST(Cli, HostileExperimentNameIsOnlyAFileName)
{
    TempDir dir;
    write_file("editor.sh", "#!/bin/sh\nprintf '%s|' \"$@\" >> editor.log\necho >> editor.log\n");
    std::filesystem::permissions("editor.sh", std::filesystem::perms::owner_all);
    InputRecords r;
    r.experiment_name = "'a;touch x $(id)'";
    write_file("placatermo.ent", r.text());
    const Outcome o = run_program("", "EDITOR=./editor.sh");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_FALSE(std::filesystem::exists("x"));
    EXPECT_TRUE(std::filesystem::exists("a;touch x $(id)"));
    EXPECT_EQ(read_file("editor.log"), "placatermo.ent|\na;touch x $(id)|\n");
}

// The lines of standard error that the program itself writes.
std::vector<std::string> warning_lines(const std::string& err)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = err.find('\n', start)) != std::string::npos; start = end + 1)
        if (err.compare(start, 6, "aviso:") == 0) lines.push_back(err.substr(start, end - start));
    return lines;
}

// A missing plotting program or editor: one line each, and nothing of the
// shell's own words; the files are those of a run that has them.
TEST(Cli, RunsWithoutGnuplot)
{
    TempDir dir;
    const Outcome o = run_program("--batch --graficos", "PATH=/nonexistent");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_TRUE(std::filesystem::exists("placa.dis"));
    EXPECT_EQ(o.err,
              "aviso: o programa de gráficos (gnuplot) não foi encontrado: instale o gnuplot (no Debian e no Ubuntu, "
              "como root: apt-get install gnuplot-nox)\n");
}

// The animation without the plotting program: the run completes, and says
// once, after the missing program, that the animation was not drawn.
TEST(Cli, AnimationWithoutGnuplot)
{
    TempDir dir;
    const Outcome o = run_program("--batch --animacao --graficos", "PATH=/nonexistent");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_TRUE(std::filesystem::exists("placa.dis"));
    EXPECT_FALSE(std::filesystem::exists("iteracoes.gif"));
    EXPECT_EQ(o.err,
              "aviso: o programa de gráficos (gnuplot) não foi encontrado: instale o gnuplot (no Debian e no Ubuntu, "
              "como root: apt-get install gnuplot-nox)\n"
              "aviso: a animação iteracoes.gif não foi desenhada: o programa de gráficos não foi encontrado\n");
}

TEST(Cli, EditorThatCannotBeFoundIsNamedOnce)
{
    const std::pair<std::string, std::string> table[] = {
        {"VISUAL= EDITOR=editor-que-nao-existe", "editor-que-nao-existe"},
        {"VISUAL='./nao-existe.sh --espere' EDITOR=", "./nao-existe.sh"},
        // neither sensible-editor nor vi
        {"VISUAL= EDITOR= PATH='" + quiet_plotter_folder() + "'", "vi"},
    };
    for (const auto& [environment, program] : table) {
        TempDir dir;
        const Outcome o = run_program("", environment);
        EXPECT_EQ(o.exit_code, 0) << environment;
        EXPECT_EQ(o.err, std::string("aviso: o editor de texto (") + program +
                             ") não foi encontrado: escolha outro com a variável EDITOR, por exemplo EDITOR=nano\n")
            << environment;
        EXPECT_EQ(read_file("placatermo.ent"), default_input_file());
    }
}

TEST(Cli, SensibleEditorBeforeVi)
{
    TempDir dir;
    const auto bin = dir.path() / "bin";
    std::filesystem::create_directory(bin);
    write_file(bin / "sensible-editor", "#!/bin/sh\nprintf '%s|' \"$@\" >> editor.log\n");
    std::filesystem::permissions(bin / "sensible-editor", std::filesystem::perms::owner_all);
    const Outcome o =
        run_program("", "VISUAL= EDITOR= PATH='" + bin.string() + ":" + quiet_plotter_folder() + ":/usr/bin:/bin'");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("editor.log"), "placatermo.ent|placa.res|");
}

// The files of the run without the options, once more with them: the same
// bytes (the time of day and the processing time aside), and besides them
// only the VTK file; the pictures' script and its folder are gone.
TEST(Cli, PicturesAndVtkLeaveTheRunsFilesAsTheyAre)
{
    struct Run {
        std::map<std::string, std::string> files;  // the working folder, less the plotting program's log
        std::vector<std::string> scripts;          // what the plotting program was given, in order
        std::vector<std::string> script_texts;
    };
    const auto run = [](const std::string& options) {
        TempDir dir;
        const auto bin = std::filesystem::temp_directory_path() / ("placatermo-cli-stub-" + std::to_string(getpid()));
        std::filesystem::create_directories(bin);
        // a plotting program that logs the scripts it is given and keeps copies
        write_file(
            bin / "gnuplot",
            "#!/bin/sh\nprintf '%s\\n' \"$1\" >> ../gnuplot.log\ncp \"$1\" ../copia-$(wc -l < ../gnuplot.log).gnu\n" +
                stub_draws_its_pictures);
        std::filesystem::permissions(bin / "gnuplot", std::filesystem::perms::owner_all);
        std::filesystem::create_directory("run");
        std::filesystem::current_path("run");
        const Outcome o = run_program(options, "PATH='" + bin.string() + ":/usr/bin:/bin'");
        std::filesystem::current_path("..");
        std::filesystem::remove_all(bin);
        EXPECT_EQ(o.exit_code, 0) << o.err;
        EXPECT_EQ(o.err, "");
        Run r;
        for (const auto& entry : std::filesystem::directory_iterator("run"))
            r.files[entry.path().filename().string()] = read_file(entry.path());
        const std::string log = read_file("gnuplot.log");
        for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
            r.scripts.push_back(log.substr(start, end - start));
            r.script_texts.push_back(read_file("copia-" + std::to_string(r.scripts.size()) + ".gnu"));
        }
        const auto mask = [](std::string& text, const std::string& marker, std::size_t before, std::size_t length) {
            const auto at = text.find(marker);
            if (at != std::string::npos) text.replace(at - before, length, length, '#');
        };
        mask(r.files["placa.res"], " = tempo de processamento (s)", 20, 20);
        mask(r.files["placa.res"], "Hora = ", 0, 15);
        return r;
    };
    const Run plain = run("--batch");
    const Run with = run("--batch --graficos --animacao --vtk");
    for (const auto& [name, bytes] : plain.files) EXPECT_EQ(with.files.at(name), bytes) << name;
    // the VTK file and the five pictures
    EXPECT_EQ(with.files.size(), plain.files.size() + 6);
    EXPECT_EQ(with.files.at("placa.vtk").substr(0, 27), "# vtk DataFile Version 3.0\n");
    EXPECT_EQ(plain.scripts, (std::vector<std::string>{"Tx.gnu", "Ty.gnu"}));
    ASSERT_EQ(with.scripts.size(), 4u);
    const std::filesystem::path animation_script = with.scripts[3];
    EXPECT_EQ(animation_script.filename(), "animacao.gnu");
    EXPECT_FALSE(std::filesystem::exists(animation_script.parent_path()));
    for (const char* part : {"set terminal gif animate", "set output 'iteracoes.gif'", "set multiplot layout 1,2",
                             "quadros.bin' binary array=("})
        EXPECT_NE(with.script_texts[3].find(part), std::string::npos) << part;
    const std::filesystem::path pictures_script = with.scripts[2];
    EXPECT_EQ(pictures_script.filename(), "graficos.gnu");
    EXPECT_FALSE(std::filesystem::exists(pictures_script.parent_path()));
    for (const char* part :
         {"$historico << EOD\n1 1\n", "$campo << EOD\n0 0 0\n", "$erro << EOD\n", "set output 'historico.png'",
          "set output 'campo.png'", "set output 'erro.png'", "$malha1 << EOD\n2 ", "set output 'niveis.png'"})
        EXPECT_NE(with.script_texts[2].find(part), std::string::npos) << part;
}

// The textbook cycle and the fast one, on a grid large enough for their
// two-thread passes, write the same files on one core (taskset) as on two.
TEST(Cli, TextbookCycleWritesTheSameFilesOnOneCoreAndOnTwo)
{
    if (std::system("taskset -c 0 true >/dev/null 2>&1") != 0) GTEST_SKIP() << "no taskset here";
    for (const std::string cycle : {"classico", "rapido"}) {
    const auto run = [&](const std::string& prefix) {
        TempDir dir;
        InputRecords r;
        r.grid_count = "10";  // 1026 x 1026 real volumes: every pass on two threads
        r.nx = "4";
        r.ny = "4";
        r.bc_kind = "2";
        r.tolerance = "1e-8";
        write_file("placatermo.ent", r.text("\r\n"));
        // the prefix goes before the program's path in the command
        const Outcome o = run_program("--batch --multigrid=" + cycle, prefix);
        EXPECT_EQ(o.exit_code, 0) << o.err;
        std::map<std::string, std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            files[entry.path().filename().string()] = read_file(entry.path());
        std::string& results = files["placa.res"];
        results.replace(results.find(" = tempo de processamento (s)") - 20, 20, 20, '#');
        results.replace(results.find("Hora = "), 15, 15, '#');
        return files;
    };
    const auto two = run("");
    const auto one = run("taskset -c 0");
    EXPECT_EQ(one.size(), two.size()) << cycle;
    for (const auto& [name, bytes] : two) EXPECT_TRUE(one.at(name) == bytes) << cycle << ": " << name;
    }
}

// With the real gnuplot, where the machine has it: three PNG pictures, and
// niveis.png of a multigrid run (the default input's) only.
TEST(Cli, PicturesWithGnuplot)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    const Outcome o = run_program("--batch --graficos", "PATH=/usr/bin:/bin");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(warning_lines(o.err), std::vector<std::string>{});
    for (const char* picture : {"historico.png", "campo.png", "erro.png", "niveis.png"}) {
        const std::string bytes = read_file(picture);
        EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << picture;
        EXPECT_GT(bytes.size(), 10000u) << picture;
    }
    std::filesystem::remove("niveis.png");
    InputRecords one;
    write_file("placatermo.ent", one.text("\r\n"));
    ASSERT_EQ(run_program("--batch --graficos", "PATH=/usr/bin:/bin").exit_code, 0);
    EXPECT_TRUE(std::filesystem::exists("historico.png"));
    EXPECT_FALSE(std::filesystem::exists("niveis.png"));
}

// The logical screen of a GIF and the count of its images (the program's
// own reader, which its unit tests check on every cut); nothing for a file
// that is not a whole GIF.
struct GifShape {
    int width = 0, height = 0, frames = 0;
};
std::optional<GifShape> read_gif(const std::string& bytes)
{
    const std::optional<std::int32_t> images = gif_image_count(bytes);
    if (!images) return std::nullopt;
    const auto byte = [&](std::size_t at) { return static_cast<int>(static_cast<unsigned char>(bytes[at])); };
    return GifShape{byte(6) | byte(7) << 8, byte(8) | byte(9) << 8, *images};
}

// With the real gnuplot, where the machine has it: the animation has a frame
// for each chosen iteration, of the terminal's size, and stays small; a
// title that holds gnuplot commands stays a title.
TEST(Cli, AnimationWithGnuplot)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "sem gnuplot";
    struct Case {
        std::string grid_count, n, max_outer, option;
        int frames;
    };
    // the default plate's multigrid: a frame per cycle (40 cycles); on one
    // grid every iteration up to 99, then fewer (of 120: 1 to 40, then every
    // second one)
    for (const Case& c : {Case{"3", "6", "1000", "", 40}, Case{"1", "40", "52", "", 52}, Case{"1", "40", "120", "", 80},
                          Case{"4", "4", "1000", "--multigrid=classico", 5}}) {
        TempDir dir;
        InputRecords r;
        r.grid_count = c.grid_count;
        r.nx = c.n;
        r.ny = c.n;
        r.max_outer_iterations = c.max_outer;
        r.title = "'a''; system(''touch INVADIDO''); x='''";
        write_file("placatermo.ent", r.text("\r\n"));
        const Outcome o = run_program("--batch --animacao " + c.option, "PATH=/usr/bin:/bin");
        ASSERT_EQ(o.exit_code, 0) << o.err;
        EXPECT_EQ(warning_lines(o.err), std::vector<std::string>{});
        const std::string gif = read_file("iteracoes.gif");
        const std::optional<GifShape> shape = read_gif(gif);
        ASSERT_TRUE(shape) << c.n;
        EXPECT_EQ(shape->frames, c.frames) << c.n << " " << c.max_outer;
        EXPECT_EQ(shape->width, 900);
        EXPECT_EQ(shape->height, 420);
        EXPECT_LT(gif.size(), 4u * 1024 * 1024);
        EXPECT_FALSE(std::filesystem::exists("INVADIDO"));
    }
}

// What the plotting program leaves of the animation: a GIF cut short (gnuplot
// still ends with 0 on a full disk) or a plotting program stopped half-way is
// removed and said, not left as if drawn, and the run fails.
TEST(Cli, AnimationCutShortIsNotLeft)
{
    struct Case {
        std::string what;  // the plotting program's work on animacao.gnu
        bool kept;
        std::string warning;
    };
    const std::string not_drawn = "placatermo: erro: a figura \"iteracoes.gif\" não foi desenhada: ";
    const std::string complete = "\nos resultados em texto estão completos\n";
    const Case cases[] = {
        {"cp ../inteiro.gif iteracoes.gif", true, ""},
        {"head -c 40 ../inteiro.gif > iteracoes.gif", false,
         not_drawn +
             "o arquivo que o programa de gráficos gravou ficou incompleto (disco cheio?); o arquivo "
             "incompleto foi apagado" +
             complete},
        {"head -c 40 ../inteiro.gif > iteracoes.gif; kill -9 $$", false,
         not_drawn + "o programa de gráficos terminou com o código 137; o arquivo incompleto foi apagado" + complete},
        // interrupted, gnuplot closes a whole GIF of the frames drawn so far
        {"cp ../inteiro.gif iteracoes.gif; exit 130", false,
         not_drawn + "o programa de gráficos terminou com o código 130; o arquivo incompleto foi apagado" + complete},
        {"exit 1", false, not_drawn + "o programa de gráficos terminou com o código 1" + complete},
        // the user's interrupt reaches the program, which stops the run and
        // ends the plotting program itself
        {"head -c 40 ../inteiro.gif > iteracoes.gif; p=$PPID; while [ \"$(cat /proc/$p/comm)\" != placatermo ]; do "
         "p=$(cut -d' ' -f4 /proc/$p/stat); done; kill -INT $p; echo >&2; sleep 10; exit 130",
         false, "placatermo: erro: execução interrompida enquanto a animação iteracoes.gif era desenhada\n"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        write_file("inteiro.gif", small_gif());
        const auto bin = dir.path() / "bin";
        std::filesystem::create_directory(bin);
        write_file(bin / "gnuplot", "#!/bin/sh\ncase \"$1\" in *animacao.gnu) " + c.what + " ;; *)\n" +
                                        stub_draws_its_pictures + ";; esac\nexit 0\n");
        std::filesystem::permissions(bin / "gnuplot", std::filesystem::perms::owner_all);
        std::filesystem::create_directory("run");
        std::filesystem::current_path("run");
        const Outcome o = run_program("--batch --animacao", "PATH='" + bin.string() + ":/usr/bin:/bin'");
        EXPECT_EQ(o.exit_code, c.kept ? 0 : 1) << c.what;
        // (the interpreter may say first, in its own words, that its child was killed)
        EXPECT_TRUE(c.kept ? o.err.empty() : o.err.ends_with(c.warning)) << c.what << "\n" << o.err;
        EXPECT_EQ(std::filesystem::exists("iteracoes.gif"), c.kept) << c.what;
        EXPECT_TRUE(std::filesystem::exists("placa.dis")) << c.what;
        std::filesystem::current_path("..");
    }
}

// gnuplot's count of frames, in English on every animation, is not passed
// on; whatever else it says is, line by line.
TEST(Cli, AnimationFrameCountKeptFromTheUser)
{
    TempDir dir;
    const auto bin = dir.path() / "bin";
    std::filesystem::create_directory(bin);
    write_file(bin / "gnuplot",
               "#!/bin/sh\ncase \"$1\" in *animacao.gnu) cp ../inteiro.gif iteracoes.gif\n"
               "printf '52 frames in animation sequence\\nlinha 3: aviso\\n\\n7 frames\\n' >&2 ;; *)\n" +
                   stub_draws_its_pictures + ";; esac\n");
    std::filesystem::permissions(bin / "gnuplot", std::filesystem::perms::owner_all);
    write_file("inteiro.gif", small_gif());
    std::filesystem::create_directory("run");
    std::filesystem::current_path("run");
    const Outcome o = run_program("--batch --animacao", "PATH='" + bin.string() + ":/usr/bin:/bin'");
    std::filesystem::current_path("..");
    EXPECT_EQ(o.exit_code, 0);
    EXPECT_EQ(o.err, "linha 3: aviso\n\n7 frames\n");
}

// A folder or a fifo where a picture goes: the pictures of its script are not
// drawn (a fifo would keep the plotting program waiting for a reader for
// ever), the run's other files are, and the run fails.
TEST(Cli, AnimationOverAFolderOrFifo)
{
    struct Case {
        const char* name;
        const char* options;
        std::vector<const char*> pictures;  // not drawn
    };
    for (const Case& c :
         {Case{"iteracoes.gif", "--batch --animacao", {"iteracoes.gif"}},
          Case{"campo.png", "--batch --graficos", {"historico.png", "campo.png", "erro.png", "niveis.png"}},
          Case{"niveis.png", "--batch --graficos", {"historico.png", "campo.png", "erro.png", "niveis.png"}},
          Case{"Ty.png", "--batch", {"Ty.png"}}})
        for (const bool fifo : {false, true}) {
            TempDir dir;
            if (fifo)
                ASSERT_EQ(mkfifo(c.name, 0600), 0);
            else
                std::filesystem::create_directory(c.name);
            const Outcome o = run_program(c.options);
            EXPECT_EQ(o.exit_code, 1) << c.name << fifo;
            std::string expected = "placatermo: erro: ";
            for (const char* picture : c.pictures)
                expected += "a figura \"" + std::string(picture) + "\" não foi desenhada: \"" + c.name +
                            "\" já existe e não é um arquivo comum\n";
            EXPECT_EQ(o.err, expected + "os resultados em texto estão completos\n") << fifo;
            EXPECT_TRUE(std::filesystem::exists("placa.dis")) << c.name << fifo;
            EXPECT_EQ(std::filesystem::is_fifo(c.name), fifo);
        }
}

// A temporary folder whose name holds a line break, blanks and the shell's
// characters: the animation is drawn whole, and nothing stays there.
TEST(Cli, AnimationThroughAHostileTemporaryFolder)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    const std::filesystem::path temporary = dir.path() / "tmp a\nb$`x`\"";
    std::filesystem::create_directory(temporary);
    InputRecords r;
    r.nx = "12";
    r.ny = "12";
    r.max_outer_iterations = "7";
    write_file("placatermo.ent", r.text("\r\n"));
    const Outcome o = run_program("--batch --animacao", "PATH=/usr/bin:/bin TMPDIR='" + temporary.string() + "'");
    ASSERT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(warning_lines(o.err), std::vector<std::string>{});
    const std::optional<GifShape> shape = read_gif(read_file("iteracoes.gif"));
    ASSERT_TRUE(shape);
    EXPECT_EQ(shape->frames, 7);
    EXPECT_TRUE(std::filesystem::is_empty(temporary));
}

// A bad input file and the whole message it must give after
// "placatermo: erro: ".
struct BadFile {
    std::string name;
    std::string file;
    std::string message;
};

// The default records with some lines replaced.
std::string records_with(const std::map<int, std::string>& lines)
{
    const auto values = InputRecords{}.values();
    std::string text;
    for (int record = 1; record <= 16; ++record) {
        const auto line = lines.find(record);
        text +=
            (line != lines.end() ? line->second : values[static_cast<std::size_t>(record - 1)] + "   = label") + "\r\n";
    }
    return text;
}

std::string cut_after(int records)
{
    const auto values = InputRecords{}.values();
    std::string text;
    for (int i = 0; i < records; ++i) text += values[static_cast<std::size_t>(i)] + "   = label\r\n";
    return text;
}

std::vector<BadFile> bad_files()
{
    std::vector<BadFile> cases = {
        {"Empty", "",
         "fim do arquivo \"placatermo.ent\" após a linha 0: falta o parâmetro \"nome do experimento numérico\" "
         "(registro 1 de 16)"},
        {"LettersForInteger", records_with({{10, "mil"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 10, parâmetro \"número máximo de iterações externas\": "
         "\"mil\" não é um número inteiro"},
        {"LettersForDouble", records_with({{9, "tol"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 9, parâmetro \"tolerância do problema\": \"tol\" não é "
         "um número real"},
        {"DecimalForInteger", records_with({{11, "6.5"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 11, parâmetro \"solver: 1=Jacobi; 2=Gauss-Seidel; "
         "3=SOR; 4=ADI; 5=MSI\": \"6.5\" não é um número inteiro"},
        {"BeyondThirtyTwoBits", records_with({{7, "99999999999"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 7, parâmetro \"número de volumes na direção X da malha "
         "1\": \"99999999999\" está fora do intervalo dos inteiros de 32 bits (de -2147483648 a 2147483647)"},
        {"GridCountZero", records_with({{6, "0"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": 0 está fora do "
         "intervalo permitido (1 ou mais malhas)"},
        {"GridCountNegative", records_with({{6, "-1"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": -1 está fora do "
         "intervalo permitido (1 ou mais malhas)"},
        {"GridCountForty", records_with({{6, "40"}}),
         "erro no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": com a malha 1 de 5 x 4 volumes, "
         "40 malhas excedem o limite de 2147483647 volumes (inteiros de 32 bits); o intervalo permitido é de 1 a 14"},
        {"NxTwo", records_with({{7, "2"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 7, parâmetro \"número de volumes na direção X da malha "
         "1\": 2 está fora do intervalo permitido (3 ou mais, os dois volumes fictícios incluídos)"},
        {"FinestGridOverflow", records_with({{6, "20"}}),
         "erro no arquivo \"placatermo.ent\", linha 6, parâmetro \"número de malhas\": com a malha 1 de 5 x 4 volumes, "
         "20 malhas excedem o limite de 2147483647 volumes (inteiros de 32 bits); o intervalo permitido é de 1 a 14"},
        {"UnterminatedQuote", records_with({{16, "'sem fim"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 16, parâmetro \"título\": o texto aberto com apóstrofo "
         "não foi fechado na mesma linha"},
        {"MegabyteNumber", records_with({{10, std::string(1 << 20, '7')}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 10, parâmetro \"número máximo de iterações externas\": "
         "\"7777777777777777777777777777777777777777...\" está fora do intervalo dos inteiros de 32 bits (de "
         "-2147483648 a 2147483647)"},
        {"NulByte", records_with({{1, std::string("pla\0ca.res", 10)}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 1, parâmetro \"nome do experimento numérico\": o texto "
         "contém um caractere de controle (byte 0)"},
        {"BinaryBytes", records_with({{4, "\x01\xff\xfe"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 4, parâmetro \"comprimento do domínio de cálculo na "
         "direção X\": \"?ÿþ\" não é um número real"},
        {"MissingValue", records_with({{5, ", 1.0"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 5, parâmetro \"comprimento do domínio de cálculo na "
         "direção Y\": o valor está faltando no início da linha"},
        {"NaNWord", records_with({{14, "NaN"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 14, parâmetro \"coeficiente de relaxação do SOR\": "
         "\"NaN\" não é um número real"},
        {"InfinityWord", records_with({{12, "-Infinity"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 12, parâmetro \"tolerância no MSI\": \"-Infinity\" não "
         "é um número real"},
        {"BlankSummaryName", records_with({{2, "\"   \""}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 2, parâmetro \"nome do arquivo de resultados "
         "(discretização)\": o nome de arquivo está em branco"},
        {"SummaryNameIsResultsName", records_with({{2, "placa.res"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 2, parâmetro \"nome do arquivo de resultados "
         "(discretização)\": o arquivo de resultados (discretização) não pode ter o mesmo nome do experimento"},
        {"BlankResultsName", records_with({{1, "''"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 1, parâmetro \"nome do experimento numérico\": o nome "
         "de arquivo está em branco"},
        {"MsiWithoutInnerIterations", records_with({{11, "5"}, {13, "0"}}),
         "erro de leitura no arquivo \"placatermo.ent\", linha 13, parâmetro \"número máximo de iterações internas\": "
         "0 está fora do intervalo permitido para o solver MSI (1 ou mais)"},
    };
    for (int records = 1; records < 16; ++records)
        cases.push_back({"CutAfter" + std::to_string(records), cut_after(records),
                         "fim do arquivo \"placatermo.ent\" após a linha " + std::to_string(records) +
                             ": falta o parâmetro \"" + std::string(record_label(records + 1)) + "\" (registro " +
                             std::to_string(records + 1) + " de 16)"});
    return cases;
}

class BadInputFile : public ::testing::TestWithParam<BadFile> {};

TEST_P(BadInputFile, StopsBeforeAnyFileIsWritten)
{
    TempDir dir;
    write_file("placatermo.ent", GetParam().file);
    write_file("placa.res", "earlier results\r\n");
    write_file("placa.dis", "earlier summary\r\n");
    const Outcome o = run_program();
    EXPECT_NE(o.exit_code, 0);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "placatermo: erro: " + GetParam().message + "\n");
    EXPECT_EQ(read_file("placa.res"), "earlier results\r\n");
    EXPECT_EQ(read_file("placa.dis"), "earlier summary\r\n");
    EXPECT_FALSE(std::filesystem::exists("Tx.dat"));
    EXPECT_FALSE(std::filesystem::exists("pla"));
}

// The memory the machine has is part of the message: only the rest is fixed.
// MSI, whose factors and work arrays make 17 doubles a volume.
TEST(BadInputFile, GridBeyondMemory)
{
    TempDir dir;
    write_file("placatermo.ent", records_with({{7, "30000"}, {8, "30000"}, {11, "5"}}));
    write_file("placa.res", "earlier results\r\n");
    const Outcome o = run_program();
    EXPECT_NE(o.exit_code, 0);
    const std::string start =
        "placatermo: erro: erro no arquivo \"placatermo.ent\", linhas 6 a 8, parâmetros \"número de malhas\" e "
        "\"número de volumes\": a malha mais fina de 30000 x 30000 volumes precisa de 114.0 GiB de memória, e esta "
        "máquina tem ";
    EXPECT_EQ(o.err.substr(0, start.size()), start);
    ASSERT_GE(o.err.size(), start.size() + 5);
    EXPECT_EQ(o.err.substr(o.err.size() - 5), " GiB\n");
    EXPECT_EQ(read_file("placa.res"), "earlier results\r\n");
}

INSTANTIATE_TEST_SUITE_P(Matrix, BadInputFile, ::testing::ValuesIn(bad_files()),
                         [](const auto& info) { return info.param.name; });

struct GoodFile {
    std::string name;
    std::string file;
    std::string title;  // as it stands in the summary file
};

std::vector<GoodFile> good_files()
{
    InputRecords r;
    std::string no_last_end = r.text("\n");
    no_last_end.pop_back();
    InputRecords tabs = r;
    tabs.tolerance = "\t1.0e-6\t";
    tabs.title = "\t'com\ttabulação'\t= t";
    InputRecords exponents = r;
    exponents.tolerance = "1.0D-6";
    exponents.msi_tolerance = "1q-3";
    exponents.sor_relaxation = "15d-1";
    const std::string title = "Placa quadrada, c.c. linear";
    return {{"CrLf", r.text("\r\n"), title},
            {"Lf", r.text("\n"), title},
            {"NoLastLineEnd", no_last_end, title},
            {"ByteOrderMark", "\xEF\xBB\xBF" + r.text("\r\n"), title},
            {"Tabs", tabs.text("\r\n"), "com\ttabulação"},
            {"DAndQExponents", exponents.text("\r\n"), title},
            {"BlankLines", "\r\n\r\n" + r.text("\r\n\r\n"), title},
            {"MegabyteLabel", records_with({{16, "'t' " + std::string(1 << 20, 'x')}}), "t"}};
}

class GoodInputFile : public ::testing::TestWithParam<GoodFile> {};

TEST_P(GoodInputFile, Runs)
{
    TempDir dir;
    write_file("placatermo.ent", GetParam().file);
    const Outcome o = run_program();
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(o.err, "");
    // every variant reads the same values: the same solution, under its title
    std::string title = GetParam().title;
    title.resize(50, ' ');
    const std::string summary = read_file("placa.dis");
    const std::string after_date =
        "\r\n"
        "\r\n"
        "     2 = n\xFAmero total de vari\xE1veis\r\n"
        "\r\n"
        "   'Temperatura Central, " +
        title +
        "'\r\n"
        "     3.7499999999994464872E+01 = solu\xE7\xE3o num\xE9rica\r\n"
        "\r\n"
        "   'T M\xE9"
        "dia, " +
        title +
        "'\r\n"
        "     2.4999998634436394696E+01 = solu\xE7\xE3o num\xE9rica\r\n"
        "\r\n";
    const std::string first = "     3.3333333333333331483E-01 = dx          Dia = (";
    EXPECT_EQ(summary.substr(0, first.size()), first);
    ASSERT_GE(summary.size(), after_date.size());
    EXPECT_EQ(summary.substr(summary.size() - after_date.size()), after_date);
}

INSTANTIATE_TEST_SUITE_P(Variants, GoodInputFile, ::testing::ValuesIn(good_files()),
                         [](const auto& info) { return info.param.name; });

// Files that cannot be written: the run stops with a message naming the file
// and keeps what it wrote before.
struct FileFault {
    const char* name;
    void (*prepare)();
    const char* message;      // the whole message line
    const char* results_end;  // what the results file ends with ("" when it must not exist)
};

void make_dir(const char* name) { std::filesystem::create_directory(name); }

std::vector<FileFault> faults()
{
    return {
        {"ResultsIsADirectory", [] { make_dir("placa.res"); },
         "placatermo: erro: não foi possível criar o arquivo \"placa.res\": é um diretório\n", nullptr},
        {"ResultsOnFullDisk", [] { std::filesystem::create_symlink("/dev/full", "placa.res"); },
         "placatermo: erro: erro ao gravar o arquivo \"placa.res\": não há espaço livre no dispositivo\n", nullptr},
        {"SummaryOnFullDisk", [] { std::filesystem::create_symlink("/dev/full", "placa.dis"); },
         "placatermo: erro: erro ao gravar o arquivo \"placa.dis\": não há espaço livre no dispositivo\n",
         " = tempo de processamento (s)\r\n"},
        {"SummaryIsADirectory", [] { make_dir("placa.dis"); },
         "placatermo: erro: não foi possível criar o arquivo \"placa.dis\": é um diretório\n",
         " = tempo de processamento (s)\r\n"},
        {"PlotScriptIsADirectory", [] { make_dir("Ty.gnu"); },
         "placatermo: erro: erro ao ler o arquivo \"Ty.gnu\": é um diretório\n", nullptr},
        {"DataFileOnFullDisk", [] { std::filesystem::create_symlink("/dev/full", "Tx.dat"); },
         "placatermo: erro: erro ao gravar o arquivo \"Tx.dat\": não há espaço livre no dispositivo\n", nullptr},
    };
}

class FailingFile : public ::testing::TestWithParam<FileFault> {};

TEST_P(FailingFile, StopsNamingTheFile)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    GetParam().prepare();
    const Outcome o = run_program();
    EXPECT_NE(o.exit_code, 0);
    EXPECT_EQ(o.err, GetParam().message);
    if (GetParam().results_end != nullptr) {
        const std::string results = read_file("placa.res");
        const std::string end = GetParam().results_end;
        ASSERT_GE(results.size(), end.size());
        EXPECT_EQ(results.substr(results.size() - end.size()), end);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, FailingFile, ::testing::ValuesIn(faults()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(FailingFile, PlotScriptFailureKeepsTheFirstProfile)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    make_dir("Ty.gnu");
    run_program();
    const std::string results = read_file("placa.res");
    // the second profile stops at its script: its data file and its lines
    // in the results file are complete
    const std::string ty = read_file("Ty.dat");
    EXPECT_EQ(ty.size(), 4u * 47u);
    EXPECT_EQ(results.substr(results.size() - ty.size()), ty);
}

TEST(FailingFile, FolderWithoutWritePermission)
{
    TempDir dir;
    InputRecords r;
    std::string name = "placa.res";
    if (geteuid() == 0) {
        // root writes into any folder of its own; /sys refuses it too
        name = "/sys/placa.res";
        r.experiment_name = "'" + name + "'";
    }
    write_file("placatermo.ent", r.text("\r\n"));
    std::filesystem::permissions(".", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    const Outcome o = run_program();
    std::filesystem::permissions(".", std::filesystem::perms::owner_all);
    EXPECT_NE(o.exit_code, 0);
    EXPECT_EQ(o.err, "placatermo: erro: não foi possível criar o arquivo \"" + name + "\": permissão negada\n");
}

TEST(Interrupt, KeepsEveryHistoryLine)
{
    TempDir dir;
    testing::write_endless_input();
    const pid_t child = testing::start_program({"--batch"});
    // wait for some history lines, then interrupt
    for (int wait = 0; wait < 200 && read_file("placa.res").find("        20   ") == std::string::npos; ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0);
    const std::string err = read_file("stderr.txt");
    const std::string prefix = "placatermo: erro: execução interrompida na iteração externa ";
    ASSERT_EQ(err.substr(0, prefix.size()), prefix) << err;
    const int last = std::stoi(err.substr(prefix.size()));
    const std::string results = read_file("placa.res");
    const auto history = results.find("Norma L1 / norma it.=1\r\n") + 24;
    std::string expected_numbers;
    std::string numbers;
    for (int k = 1; k <= last; ++k) expected_numbers += std::to_string(k) + ",";
    for (std::size_t p = history; p < results.size(); p += 27) {
        ASSERT_EQ(results.substr(p + 25, 2), "\r\n");
        numbers += std::to_string(std::stoi(results.substr(p, 10))) + ",";
    }
    EXPECT_EQ(numbers, expected_numbers);
}


// The names of the folder's entries, sorted.
std::set<std::string> folder_entries(const std::filesystem::path& folder = ".")
{
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

// The default input with line `line` (from 1) in place of its own.
std::string default_input_with(const std::map<int, std::string>& lines)
{
    const std::string file = default_input_file();
    std::string out;
    int line = 1;
    for (std::size_t start = 0; start < file.size(); ++line) {
        const std::size_t end = file.find("\r\n", start) + 2;
        out += lines.contains(line) ? to_cp1252(lines.at(line)) + "\r\n" : file.substr(start, end - start);
        start = end;
    }
    return out;
}

// --definir writes each value in its place (the comment keeps its column,
// every other byte stays), then the run computes with it; records and values
// by number or by name, the last of a record holding.
TEST(Definir, WritesTheValuesInPlaceThenRuns)
{
    TempDir dir;
    Outcome o = run_program("--batch --definir 11=3 --definir 7=9 --definir nx=34");
    ASSERT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("placatermo.ent"),
              default_input_with({{7, "34                = número de volumes na direção X da malha 1"},
                                  {11, "3                 = solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI"}}));
    EXPECT_NE(read_file("placa.res").find("SOR"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists("placatermo.anterior"));

    o = run_program("--batch --definir solver=Gauss-Seidel --definir cc=senoidal --definir \"titulo=Placa de 'Laplace', senoidal\" --definir tolerancia=1.0e-10");
    ASSERT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("placatermo.ent"),
              default_input_with({{7, "34                = número de volumes na direção X da malha 1"},
                                  {9, "1.0e-10           = tolerância do problema"},
                                  {15, "2                 = 1:c.c.linear; 2:c.c.senoidal"},
                                  {16, "'Placa de ''Laplace'', senoidal' = título"}}));
    EXPECT_FALSE(std::filesystem::exists("placatermo.anterior"));
}

// A record or a value that the command line or the reader refuses: exit 2,
// the reader's message naming the line and the parameter, nothing written;
// in a fresh folder, not even the default input.
TEST(Definir, RefusesWrongRecordsAndValuesBeforeWritingAnything)
{
    const std::pair<const char*, const char*> cases[] = {
        {"--definir 17=1", "--definir 17=1: o registro vem antes de '=': um número de 1 a 16 ou um nome (nome_experimento"},
        {"--definir sover=sor", "--definir sover=sor: o registro vem antes de '='"},
        {"--definir 11=", "--definir 11=: falta o valor depois de '='"},
        {"--definir 14=1,5", "o valor é um só, sem vírgula (o separador decimal é o ponto)"},
        {"--definir nome_experimento=../fora.res", "o nome do arquivo é só um nome, sem pasta"},
        {"--definir '2=sub\\placa.dis'", "o nome do arquivo é só um nome, sem pasta"},
        {"--definir solver=sorr", "--definir solver=sorr: \"sorr\" não é um número nem um dos nomes (jacobi, gauss-seidel, sor, adi, msi)"},
        {"--definir solver=3.5", "linha 11, parâmetro \"solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI\": \"3.5\" não é um número inteiro; nenhum arquivo foi gravado"},
        {"--definir malhas=0", "linha 6, parâmetro \"número de malhas\""},
        {"--definir cc=1 --definir lx=abc", "linha 4, parâmetro"},
        {"--definir nx=6é", "linha 7, parâmetro \"número de volumes na direção X da malha 1\": \"6é\" não é um número inteiro"},
        {"--definir 'titulo=Placa 😀'", "--definir titulo=Placa 😀: o valor tem um caractere que o arquivo de entrada (Windows-1252) não representa"},
        {"--definir 'nome_experimento=a\xe7.res'", "o valor tem um caractere que o arquivo de entrada (Windows-1252) não representa"},
    };
    for (const bool fresh : {false, true}) {
        TempDir dir;
        if (!fresh) {
            ASSERT_EQ(run_program("--batch").exit_code, 0);
        }
        const auto before = folder_entries();
        const std::string input = fresh ? "" : read_file("placatermo.ent");
        for (const auto& [arguments, message] : cases) {
            const Outcome o = run_program(std::string("--batch ") + arguments);
            EXPECT_EQ(o.exit_code, 2) << arguments;
            EXPECT_NE(o.err.find(message), std::string::npos) << arguments << "\n" << o.err;
            EXPECT_EQ(folder_entries(), before) << arguments;
            if (!fresh) {
                EXPECT_EQ(read_file("placatermo.ent"), input) << arguments;
            }
        }
    }
}

// The input as it was before --definir is kept aside with the earlier run's
// files until the new run has written all of its own.
TEST(Definir, KeepsTheEarlierInputWithTheEarlierFiles)
{
    TempDir dir;
    ASSERT_EQ(run_program("--batch").exit_code, 0);
    const std::string input = read_file("placatermo.ent"), results = read_file("placa.res");
    std::filesystem::remove("placa.dis");
    std::filesystem::create_directory("placa.dis");  // the summary cannot be written
    const Outcome o = run_program("--batch --definir solver=sor");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_NE(o.err.find("placatermo.anterior"), std::string::npos) << o.err;
    EXPECT_EQ(read_file("placatermo.anterior/placatermo.ent"), input);
    EXPECT_EQ(read_file("placatermo.anterior/placa.res"), results);
    EXPECT_NE(read_file("placatermo.ent"), input);
}

// An input that cannot be written fails the run before the earlier files
// are set aside: the folder stays as it was.
TEST(Definir, AReadOnlyInputMovesNothing)
{
    TempDir dir;
    ASSERT_EQ(run_program().exit_code, 0);
    const auto before = folder_entries();
    namespace fs = std::filesystem;
    fs::permissions("placatermo.ent", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    // root writes over the permissions: the input is mounted read-only instead
    const bool root = geteuid() == 0;
    if (root && std::system("mount --bind placatermo.ent placatermo.ent 2>/dev/null") != 0)
        GTEST_SKIP() << "não foi possível montar o arquivo de entrada somente para leitura";
    const bool read_only = !root || std::system("mount -o remount,bind,ro placatermo.ent 2>/dev/null") == 0;
    const Outcome o = read_only ? run_program("--batch --definir solver=adi") : Outcome{};
    if (root) std::system("umount placatermo.ent");
    if (!read_only) GTEST_SKIP() << "não foi possível montar o arquivo de entrada somente para leitura";
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_NE(o.err.find("não foi possível gravar o arquivo \"placatermo.ent\""), std::string::npos) << o.err;
    EXPECT_EQ(folder_entries(), before);
}

// An input whose new bytes are cut short (a full disk) is put back as it
// was, with the editor to follow or not.
TEST(Definir, PutsBackAnInputCutShort)
{
    for (const std::string mode : {"", "--batch "}) {
        TempDir dir;
        ASSERT_EQ(run_program().exit_code, 0);
        const std::string input = read_file("placatermo.ent");
        const Outcome o = run_program(mode + "--definir titulo=" + std::string(5000, 'y'),
                                      "EDITOR=true sh -c 'trap \"\" XFSZ; ulimit -f 4; exec \"$0\" \"$@\"'");
        EXPECT_EQ(o.exit_code, 1) << mode;
        EXPECT_NE(o.err.find("erro ao gravar o arquivo \"placatermo.ent\""), std::string::npos) << mode << o.err;
        EXPECT_EQ(read_file("placatermo.ent"), input) << mode;
    }
}

// Records and values by name in a study are its numbers: the folders, the
// design and the table know only numbers.
TEST(Definir, StudyTakesNamesAsNumbers)
{
    TempDir dir;
    write_file("placatermo.ent", InputRecords{}.text("\r\n"));
    ASSERT_EQ(run_program("estudo e --variar solver=sor,MSI --variar cc=senoidal --preparar").exit_code, 0);
    const auto design = read_file("e/estudo.json");
    ASSERT_EQ(run_program("estudo f --variar 11=3,5 --variar 15=2 --preparar").exit_code, 0);
    EXPECT_EQ(read_file("e/001/placatermo.ent"), read_file("f/001/placatermo.ent"));
    EXPECT_EQ(read_file("e/002/placatermo.ent"), read_file("f/002/placatermo.ent"));
    EXPECT_NE(read_file("e/002/placatermo.ent").find("\r\n5   = label\r\n1.0e-3"), std::string::npos);
    Outcome o = run_program("estudo g --variar titulo=x,y");
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_NE(o.err.find("um número de 4 a 15 ou um nome (lx, ly, malhas, nx, ny,"), std::string::npos) << o.err;
    o = run_program("estudo g --variar solver=sor,sorr --preparar");
    EXPECT_EQ(o.exit_code, 2);
    EXPECT_NE(o.err.find("--variar solver=sor,sorr: \"sorr\" não é um número nem um dos nomes (jacobi,"), std::string::npos)
        << o.err;
    EXPECT_FALSE(std::filesystem::exists("g"));
}

}  // namespace
}  // namespace placatermo
