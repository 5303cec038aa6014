// The command line quoting, the Portuguese texts of system errors and the
// stop signals.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>

#include "base/errors.hpp"
#include "platform/platform.hpp"
#include "platform/stop_signals.hpp"
#include "test_support.hpp"

namespace placatermo {
namespace {

#ifndef _WIN32
TEST(QuoteForShell, EveryNameIsOneWordForTheShell)
{
    const std::pair<const char*, const char*> table[] = {
        {"placa.res", "'placa.res'"},
        {"", "''"},
        {"a b", "'a b'"},
        {"it's", "'it'\\''s'"},
        {"''", "''\\'''\\'''"},
        {"a;touch x $(id)", "'a;touch x $(id)'"},
        {"$HOME `id` \"q\"", "'$HOME `id` \"q\"'"},
        {"a\\b", "'a\\b'"},
        {"caf\xE9", "'caf\xE9'"},
    };
    for (const auto& [name, quoted] : table) EXPECT_EQ(quote_for_shell(name), quoted) << name;
}

// A command's standard error is caught, its standard output is not, and its
// exit status is the command's.
TEST(CatchingErrors, StandardErrorOnly)
{
    SystemPlatform platform;
    std::string errors = "antes";
    EXPECT_EQ(
        platform.run_command_catching_errors("echo erro >&2; echo saida >/dev/null; echo fim >&2; exit 3", errors), 3);
    EXPECT_EQ(errors, "erro\nfim\n");
}

// In a process of its own: a child that ignores the stop (its interpreter
// too) is killed within the bounded wait and its command does not answer
// success; the program, which does not end by itself, is ended about a
// second after the signal, with the message and exit 1, its temporary folder
// removed.
TEST(StopSignals, ADeafChildIsKilledAndTheProgramEnded)
{
    testing::TempDir dir;
    const pid_t child = fork();
    if (child == 0) {
        std::freopen("stderr.txt", "w", stderr);
        install_stop_signals(StopDeadline::about_a_second);
        std::error_code error;
        make_temporary_folder("temporaria", error);
        SystemPlatform platform;
        const int status = platform.run_command("exec sh -c 'trap \"\" TERM; echo > comecou; exec sleep 30'");
        testing::write_file("codigo.txt", std::to_string(status));
        for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    for (int wait = 0; wait < 200 && !std::filesystem::exists("comecou"); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(child, SIGTERM);
    int status = 0;
    bool ended = false;
    for (int wait = 0; wait < 200 && !(ended = waitpid(child, &status, WNOHANG) == child); ++wait)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
    EXPECT_EQ(testing::read_file("codigo.txt"), "137");
    EXPECT_EQ(testing::read_file("stderr.txt"), "placatermo: erro: execução interrompida\n");
    EXPECT_FALSE(std::filesystem::exists("temporaria"));
}

// What `command -v` would not find; words the shell reads otherwise are left
// to it.
TEST(MissingProgram, LookedUpAsTheShellWould)
{
    namespace fs = std::filesystem;
    const fs::path folder = fs::temp_directory_path() / ("placatermo-path-" + std::to_string(getpid()));
    fs::create_directories(folder / "bin" / "pasta");
    const auto make = [&](const fs::path& file, fs::perms perms) {
        std::ofstream(file) << "#!/bin/sh\n";
        fs::permissions(file, perms);
    };
    make(folder / "bin" / "gnuplot", fs::perms::owner_all);
    make(folder / "bin" / "texto", fs::perms::owner_read | fs::perms::owner_write);
    make(folder / "editor.sh", fs::perms::owner_all);
    const std::string saved = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
    setenv("PATH", ("/nonexistent::" + (folder / "bin").string()).c_str(), 1);
    const std::string editor = (folder / "editor.sh").string();
    const std::pair<std::string, std::string> table[] = {
        {"gnuplot 'Tx.gnu'", ""},
        {"  gnuplot", ""},
        {"vi 'placatermo.ent'", "vi"},
        {"\tnano -w 'a b'", "nano"},
        {"texto 'x'", "texto"},  // not executable
        {"pasta 'x'", "pasta"},  // a folder
        {editor + " --wait 'x'", ""},
        {editor + ".nao 'x'", editor + ".nao"},
        {"/nonexistent/vim 'x'", "/nonexistent/vim"},
        {"true 'x'", ""},
        {"exec vim 'x'", ""},
        {"FOO=1 vim 'x'", ""},
        {"'vim' 'x'", ""},
        {"$HOME/bin/vim 'x'", ""},
        {"", ""},
    };
    for (const auto& [command, missing] : table) EXPECT_EQ(missing_program_of(command), missing) << command;
    unsetenv("PATH");
    EXPECT_EQ(missing_program_of("vim 'x'"), "");  // the shell's own default PATH
    setenv("PATH", saved.c_str(), 1);
    fs::remove_all(folder);
}
#endif

// The Windows forms, checked on every platform; under wine the real program
// is checked with them (tests/windows/check-wine.sh).
TEST(WindowsCommands, TheFileNameTravelsInAVariable)
{
    EXPECT_EQ(cmd_file_command("notepad"), "notepad \"%PLACATERMO_ARQUIVO%\"");
    EXPECT_EQ(cmd_file_command("wgnuplot"), "wgnuplot \"%PLACATERMO_ARQUIVO%\"");
    const std::pair<const char*, const char*> quoted[] = {
        {"placa.res", "\"placa.res\""},
        {"a b&c^d%OS%!e.res", "\"a b&c^d%OS%!e.res\""},
        {"x\"y", "\"x_y\""},
        {"", "\"\""},
    };
    for (const auto& [name, expected] : quoted) EXPECT_EQ(quote_for_cmd(name), expected) << name;
}

TEST(WindowsCommands, InterpreterIsComspecOrTheSystemFoldersCmd)
{
    const struct {
        const char* comspec;
        const char* system_folder;
        const char* interpreter;
    } table[] = {
        {"C:\\Windows\\system32\\cmd.exe", "C:\\Windows\\system32", "C:\\Windows\\system32\\cmd.exe"},
        {"D:\\tools\\tcc.exe", "C:\\Windows\\system32", "D:\\tools\\tcc.exe"},
        // never a cmd.exe of the working folder
        {nullptr, "C:\\Windows\\system32", "C:\\Windows\\system32\\cmd.exe"},
        {"", "C:\\Windows\\system32\\", "C:\\Windows\\system32\\cmd.exe"},
    };
    for (const auto& row : table)
        EXPECT_EQ(command_interpreter(row.comspec, row.system_folder), row.interpreter) << row.system_folder;
}

TEST(SystemErrorText, PortugueseForTheErrorsAFileMeets)
{
    const std::pair<int, const char*> table[] = {
        {ENOENT, "arquivo ou diretório inexistente"},
        {EACCES, "permissão negada"},
        {EPERM, "operação não permitida"},
        {EISDIR, "é um diretório"},
        {ENOTDIR, "um componente do caminho não é um diretório"},
        {ENOSPC, "não há espaço livre no dispositivo"},
        {EROFS, "sistema de arquivos somente para leitura"},
        {EMFILE, "arquivos abertos demais"},
        {ENFILE, "arquivos abertos demais"},
        {ENAMETOOLONG, "nome de arquivo longo demais"},
        {EIO, "erro de entrada/saída"},
        {EFBIG, "arquivo grande demais"},
        {ENOMEM, "memória insuficiente"},
        {EINVAL, "argumento inválido"},
        {EINTR, "chamada do sistema interrompida"},
        {ELOOP, "ligações simbólicas demais no caminho"},
        {EEXIST, "já existe um arquivo com esse nome"},
        {0, "erro de entrada/saída"},
        {EXDEV,
         "a origem e o destino estão em sistemas de arquivos diferentes (outro disco ou partição), e um "
         "arquivo não pode ser movido de um para o outro"},
        {9999,
         "falha inesperada do sistema (código 9999); verifique se o disco está acessível e tem espaço livre, e "
         "se a pasta e o arquivo podem ser gravados"},
    };
    for (const auto& [number, text] : table) EXPECT_EQ(system_error_text(number), text) << number;
}

// Whatever a file, a folder, a lock or a child process can give has a text of
// its own, never the fallback; the standard library's codes read the same.
TEST(SystemErrorText, EveryErrorOfTheFileOperationsIsNamed)
{
    const std::string fallback = "falha inesperada do sistema";
    for (const int number :
         {EXDEV,  EBADF,       EBUSY,  ENOTEMPTY, ETXTBSY,    ENXIO,        ENODEV,    EPIPE,     ESPIPE,
          EAGAIN, EWOULDBLOCK, EFAULT, EOVERFLOW, ECONNRESET, ECONNABORTED, ENOTCONN,  ETIMEDOUT, ESTALE,
          ENOLCK, EDEADLK,     ENOSYS, ENOTSUP,   EOPNOTSUPP, EMLINK,       ENOTTY,    E2BIG,     ENOEXEC,
          ECHILD, ESRCH,       EILSEQ, ECANCELED, ENOBUFS,    EDQUOT,       ENOMEDIUM, EREMOTEIO, EUCLEAN}) {
        const std::string text = system_error_text(number);
        EXPECT_FALSE(text.starts_with(fallback)) << number << ": " << text;
        EXPECT_EQ(system_error_text(std::error_code(number, std::generic_category())), text) << number;
        EXPECT_EQ(system_error_text(std::error_code(number, std::system_category())), text) << number;
    }
    EXPECT_EQ(system_error_text(std::make_error_code(std::io_errc::stream)),
              "falha inesperada do sistema (código iostream 1); verifique se o disco está acessível e tem espaço "
              "livre, e se a pasta e o arquivo podem ser gravados");
}

// The Win32 codes that std::filesystem reports on Windows: as the errno of
// the same meaning, or a text of their own.
TEST(SystemErrorText, WindowsCodes)
{
    const std::pair<unsigned long, std::string> table[] = {
        {2, system_error_text(ENOENT)},
        {3, system_error_text(ENOENT)},
        {5, system_error_text(EACCES)},
        {6, system_error_text(EBADF)},
        {17, system_error_text(EXDEV)},
        {19, system_error_text(EROFS)},
        {112, system_error_text(ENOSPC)},
        {145, system_error_text(ENOTEMPTY)},
        {183, system_error_text(EEXIST)},
        {206, system_error_text(ENAMETOOLONG)},
        {32, "o arquivo está aberto em outro programa; feche-o e rode de novo"},
        {123, "o nome do arquivo, da pasta ou da unidade não é válido no Windows; escolha outro nome"},
        {99999,
         "falha inesperada do sistema (código do Windows 99999); verifique se o disco está acessível e tem "
         "espaço livre, e se a pasta e o arquivo podem ser gravados"},
    };
    for (const auto& [code, text] : table) EXPECT_EQ(windows_error_text(code), text) << code;
}

TEST(FailFile, NamesTheActionTheFileAndTheError)
{
    try {
        fail_file("não foi possível criar", "caf\xE9.res", EACCES);
        FAIL() << "no error";
    } catch (const FatalError& error) {
        EXPECT_STREQ(error.what(), "não foi possível criar o arquivo \"café.res\": permissão negada");
    }
}

}  // namespace
}  // namespace placatermo
