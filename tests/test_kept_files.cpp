// The earlier run's files under faults of the keep-aside folder itself (a
// link or a file where the folder should be, a folder on another file
// system) and pictures that the plotting program does not draw whole.
#include <gtest/gtest.h>

#include <unistd.h>

#include <map>

#include "cli_support.hpp"
#include "results/picture_check.hpp"
#include "run/run_files.hpp"

namespace placatermo {
namespace {

using testing::Outcome;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;
namespace fs = std::filesystem;

std::map<std::string, std::string> files_in(const fs::path& folder)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file()) files[entry.path().filename().string()] = read_file(entry.path());
    return files;
}

// A folder elsewhere whose files bear the run's names.
void make_victim()
{
    fs::create_directory("../vitima");
    for (const char* name : {"placa.res", "placa.dis", "Tx.dat", "Tx.png", "Tx.gnu"})
        write_file(fs::path("../vitima") / name, "x");
}

// What stands where the keep-aside folder or one of its copies should be:
// the run is refused before anything moves, and nothing outside the folder
// is touched.
struct LinkCase {
    const char* name;
    void (*make)();
    const char* message;
};

const LinkCase link_cases[] = {
    {"FolderIsALink", [] { fs::create_directory_symlink("../vitima", "placatermo.anterior"); },
     "placatermo: erro: \"placatermo.anterior\" deveria ser a pasta em que a execução guarda os arquivos da "
     "execução anterior, mas é uma ligação simbólica: apague-a ou renomeie-a e rode de novo; nenhum arquivo foi "
     "gravado\n"},
    {"FolderIsADanglingLink", [] { fs::create_directory_symlink("../vitima/nova", "placatermo.anterior"); },
     "placatermo: erro: \"placatermo.anterior\" deveria ser a pasta em que a execução guarda os arquivos da "
     "execução anterior, mas é uma ligação simbólica: apague-a ou renomeie-a e rode de novo; nenhum arquivo foi "
     "gravado\n"},
    {"FolderIsAFile", [] { write_file("placatermo.anterior", "x"); },
     "placatermo: erro: \"placatermo.anterior\" deveria ser a pasta em que a execução guarda os arquivos da "
     "execução anterior, mas é um arquivo: apague-a ou renomeie-a e rode de novo; nenhum arquivo foi gravado\n"},
    {"CopyIsALink",
     [] {
         fs::create_directory("placatermo.anterior");
         fs::create_symlink("../../vitima/Tx.dat", "placatermo.anterior/Tx.dat");
     },
     "placatermo: erro: \"placatermo.anterior/Tx.dat\" deveria ser a cópia de um arquivo da execução anterior, mas "
     "é uma ligação simbólica: apague-a ou renomeie-a e rode de novo; nenhum arquivo foi gravado\n"},
};

class KeepAsideFolder : public ::testing::TestWithParam<LinkCase> {};

TEST_P(KeepAsideFolder, NotTheProgramsOwnIsRefused)
{
    TempDir dir;
    fs::create_directory("run");
    fs::current_path("run");
    ASSERT_EQ(run_program().exit_code, 0);
    make_victim();
    GetParam().make();
    const auto victim = files_in("../vitima");
    const auto before = files_in(".");
    const Outcome o = run_program("--batch --json --vtk --graficos");
    EXPECT_EQ(o.exit_code, 1);
    EXPECT_EQ(o.err, GetParam().message);
    EXPECT_EQ(files_in("../vitima"), victim);
    EXPECT_FALSE(fs::exists("../vitima/nova"));
    EXPECT_EQ(files_in("."), before);
}

INSTANTIATE_TEST_SUITE_P(Faults, KeepAsideFolder, ::testing::ValuesIn(link_cases),
                         [](const auto& info) { return std::string(info.param.name); });

// The folder swapped for a link while the run writes: what the run removes at
// its end is only what it put there itself.
TEST(KeepAsideFolder, SwappedDuringTheRunRemovesNothingElsewhere)
{
    TempDir dir;
    for (const char* name : {"placa.res", "Tx.dat"}) write_file(name, "anterior");
    const std::vector<RunFile> files = {{"entrada", "placatermo.ent", 0, 0, true},
                                        {"resultados", "placa.res", 1, 0, false},
                                        {"perfil", "Tx.dat", 0, 0, false}};
    const EarlierFiles earlier = set_aside_earlier_files(files);
    EXPECT_EQ(earlier.folders(), std::vector<std::string>{"placatermo.anterior"});
    fs::rename("placatermo.anterior", "guardada");
    make_victim();
    fs::create_directory_symlink("../vitima", "placatermo.anterior");
    earlier.discard({});
    EXPECT_EQ(read_file("../vitima/placa.res"), "x");
    EXPECT_EQ(read_file("../vitima/Tx.dat"), "x");
    fs::remove("placatermo.anterior");
    fs::rename("guardada", "placatermo.anterior");
    // the copy of a picture that was not drawn again stays; the others go,
    // and the folder with them when it is left empty
    earlier.discard({"Tx.dat"});
    EXPECT_EQ(files_in("placatermo.anterior"), (std::map<std::string, std::string>{{"Tx.dat", "anterior"}}));
    earlier.discard({});
    EXPECT_FALSE(fs::exists("placatermo.anterior"));
}

// A run file that is a link into another folder: its copy goes beside the
// file the link leads to, and a copy found there (another folder's) is
// never removed.
TEST(KeepAsideFolder, CopiesOfAnotherFolderStay)
{
    TempDir dir;
    fs::create_directories("fora/placatermo.anterior");
    write_file("fora/placatermo.anterior/comum.png", "de outra pasta");
    write_file("fora/comum.png", "atual");
    fs::create_directory("run");
    fs::current_path("run");
    ASSERT_EQ(run_program().exit_code, 0);
    fs::remove("Tx.png");
    fs::create_symlink("../fora/comum.png", "Tx.png");
    const Outcome o = run_program();
    EXPECT_EQ(o.exit_code, 0) << o.err;
    EXPECT_EQ(read_file("../fora/placatermo.anterior/comum.png"), "de outra pasta");
    EXPECT_TRUE(fs::is_symlink("Tx.png"));
}

// A keep-aside folder on another file system (a mount point there): the
// files are copied, read back, and only then removed, never an error.
TEST(KeepAsideFolder, OnAnotherFileSystem)
{
    TempDir dir;
    ASSERT_EQ(run_program().exit_code, 0);
    const auto earlier = files_in(".");
    fs::create_directory("placatermo.anterior");
    if (std::system("mount -t tmpfs -o size=4m tmpfs placatermo.anterior 2>/dev/null") != 0)
        GTEST_SKIP() << "não foi possível montar um tmpfs (é preciso ser root)";
    // earlier files that may be copied, and a new results file that may not
    // be written whole
    testing::InputRecords r;
    r.nx = "120";
    r.ny = "120";
    write_file("placatermo.ent", r.text("\r\n"));
    const Outcome failed = run_program("--batch", "sh -c 'trap \"\" XFSZ; ulimit -f 200; exec \"$0\" \"$@\"'");
    const auto kept = files_in("placatermo.anterior");
    const Outcome complete = run_program();
    const auto left = files_in("placatermo.anterior");
    std::system("umount placatermo.anterior");
    EXPECT_EQ(failed.exit_code, 1);
    EXPECT_EQ(failed.err.find("erro do sistema"), std::string::npos) << failed.err;
    for (const auto& [name, bytes] : earlier)
        if (name != "placatermo.ent") {
            EXPECT_EQ(kept.at(name), bytes) << name;
        }
    EXPECT_EQ(complete.exit_code, 0) << complete.err;
    EXPECT_TRUE(left.empty());
}

// Pictures that the plotting program ends with 0 without drawing whole: the
// run says which, keeps the earlier ones, and fails once the text results
// are complete.
struct PictureFault {
    const char* name;
    const char* plotter;  // the body of the stub that stands for gnuplot
    const char* why;
};

const PictureFault picture_faults[] = {
    {"WritesNothing", "exit 0", "o programa de gráficos não gravou o arquivo"},
    {"WritesAnEmptyFile",
     "for s in \"$@\"; do sed -n \"s/.*set output '\\([^']*\\)'.*/\\1/p\" \"$s\" | while read -r p; do : >\"$p\"; "
     "done; done",
     "o arquivo que o programa de gráficos gravou ficou incompleto (disco cheio?); o arquivo incompleto foi apagado"},
    {"WritesHalfAFile",
     "for s in \"$@\"; do sed -n \"s/.*set output '\\([^']*\\)'.*/\\1/p\" \"$s\" | while read -r p; do "
     "printf '\\211PNG\\r\\n\\032\\n\\000\\000' >\"$p\"; done; done",
     "o arquivo que o programa de gráficos gravou ficou incompleto (disco cheio?); o arquivo incompleto foi apagado"},
    {"EndsWithAnError", "exit 3", "o programa de gráficos terminou com o código 3"},
};

class PictureNotWhole : public ::testing::TestWithParam<PictureFault> {};

TEST_P(PictureNotWhole, FailsTheRunAndKeepsTheEarlierOne)
{
    TempDir dir;
    ASSERT_EQ(run_program("--batch --graficos").exit_code, 0);
    const auto earlier = files_in(".");
    fs::create_directory("bin");
    write_file("bin/gnuplot", std::string("#!/bin/sh\n") + GetParam().plotter + "\n");
    fs::permissions("bin/gnuplot", fs::perms::owner_all);
    const Outcome o = run_program("--batch --graficos", "PATH=\"$PWD/bin:/usr/bin:/bin\"");
    EXPECT_EQ(o.exit_code, 1);
    std::string expected = "placatermo: erro: ";
    for (const char* picture : {"Tx.png", "Ty.png", "historico.png", "campo.png", "erro.png", "niveis.png"}) {
        expected += "a figura \"" + std::string(picture) + "\" não foi desenhada: " + GetParam().why +
                    "; a da execução anterior continua em \"placatermo.anterior\"\n";
        EXPECT_FALSE(fs::exists(picture)) << picture;
        EXPECT_EQ(read_file(fs::path("placatermo.anterior") / picture), earlier.at(picture)) << picture;
    }
    EXPECT_EQ(o.err, expected + "os resultados em texto estão completos\n");
    // the text results are the new run's, whole, and their earlier copies gone
    EXPECT_NE(read_file("placa.res").find("tempo de processamento"), std::string::npos);
    EXPECT_EQ(files_in("placatermo.anterior").size(), 6u);
    // and a run that draws them again leaves the folder as ever
    EXPECT_EQ(run_program("--batch --graficos").exit_code, 0);
    EXPECT_FALSE(fs::exists("placatermo.anterior"));
}

INSTANTIATE_TEST_SUITE_P(Faults, PictureNotWhole, ::testing::ValuesIn(picture_faults),
                         [](const auto& info) { return std::string(info.param.name); });

// Pictures not drawn again keep their earlier copies: without a plotting
// program (the run ends as ever, with its one warning), and beside a picture
// that a failed run left in place, which is not taken for this run's.
TEST(PictureNotWhole, EarlierCopiesOfPicturesNotDrawnStay)
{
    TempDir dir;
    ASSERT_EQ(run_program("--batch --graficos").exit_code, 0);
    const auto earlier = files_in(".");
    fs::create_directory("vazio");
    const Outcome without = run_program("--batch --graficos", "PATH=\"$PWD/vazio\"");
    EXPECT_EQ(without.exit_code, 0) << without.err;
    for (const char* picture : {"Tx.png", "Ty.png", "historico.png", "campo.png", "erro.png", "niveis.png"}) {
        EXPECT_FALSE(fs::exists(picture)) << picture;
        EXPECT_EQ(read_file(fs::path("placatermo.anterior") / picture), earlier.at(picture)) << picture;
    }
    write_file("Tx.png", earlier.at("Tx.png"));
    fs::create_directory("bin");
    write_file("bin/gnuplot", "#!/bin/sh\nexit 0\n");
    fs::permissions("bin/gnuplot", fs::perms::owner_all);
    const Outcome nothing = run_program("--batch", "PATH=\"$PWD/bin:/usr/bin:/bin\"");
    EXPECT_EQ(nothing.exit_code, 1);
    EXPECT_EQ(nothing.err.rfind("placatermo: erro: a figura \"Tx.png\" não foi desenhada: o programa de gráficos não "
                                "gravou o arquivo; a da execução anterior continua em \"placatermo.anterior\"\n",
                                0),
              0u)
        << nothing.err;
    EXPECT_FALSE(fs::exists("Tx.png"));
    EXPECT_EQ(read_file("placatermo.anterior/Tx.png"), earlier.at("Tx.png"));
}

// No temporary folder for the pictures' script: the earlier pictures stay,
// and the run fails.
TEST(PictureNotWhole, NoTemporaryFolder)
{
    TempDir dir;
    ASSERT_EQ(run_program("--batch --graficos").exit_code, 0);
    const auto earlier = files_in(".");
    const Outcome o = run_program("--batch --graficos", "TMPDIR=/nonexistent");
    EXPECT_EQ(o.exit_code, 1);
    for (const char* picture : {"historico.png", "campo.png", "erro.png"}) {
        EXPECT_NE(o.err.find("a figura \"" + std::string(picture) +
                             "\" não foi desenhada: não foi possível criar uma pasta temporária para o script; a da "
                             "execução anterior continua em \"placatermo.anterior\""),
                  std::string::npos)
            << o.err;
        EXPECT_EQ(read_file(fs::path("placatermo.anterior") / picture), earlier.at(picture));
    }
    EXPECT_TRUE(fs::exists("Tx.png"));
}

// With the real gnuplot on a disk that fills somewhere among the files of a
// run with every picture: a run that ends with 0 leaves only whole pictures,
// and one that does not says why.
TEST(PictureNotWhole, FullDiskSizes)
{
    if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    fs::create_directory("disco");
    if (std::system("mount -t tmpfs -o size=200k tmpfs disco 2>/dev/null") != 0)
        GTEST_SKIP() << "não foi possível montar um tmpfs (é preciso ser root)";
    std::system("umount disco");
    for (int kib = 200; kib <= 340; kib += 35) {
        std::system(("mount -t tmpfs -o size=" + std::to_string(kib) + "k tmpfs disco").c_str());
        fs::current_path("disco");
        const Outcome o = run_program("--batch --vtk --graficos", "PATH=/usr/bin:/bin");
        std::map<std::string, bool> whole;
        for (const char* picture : {"Tx.png", "Ty.png", "historico.png", "campo.png", "erro.png"})
            if (fs::exists(picture)) whole[picture] = png_is_whole(read_file(picture));
        fs::current_path("..");
        std::system("umount disco");
        for (const auto& [picture, is_whole] : whole) EXPECT_TRUE(is_whole) << kib << " KiB: " << picture;
        if (o.exit_code == 0) {
            EXPECT_EQ(whole.size(), 5u) << kib << " KiB";
        } else {
            EXPECT_EQ(o.exit_code, 1) << kib << " KiB";
            EXPECT_EQ(o.err.rfind("placatermo: erro: ", 0), 0u) << kib << " KiB: " << o.err;
        }
    }
}

}  // namespace
}  // namespace placatermo
