// placatermo: steady two-dimensional heat diffusion on a plate.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

#include "report/errors.hpp"
#include "run/program.hpp"
#include "run/study.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int signal_number) { stop_signal = signal_number; }

#ifdef _WIN32
// Ctrl-C or Ctrl-Break: the first stops the run after the current outer
// iteration, a second ends the program at once.
BOOL WINAPI on_console_event(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    if (stop_signal != 0) return FALSE;
    stop_signal = static_cast<std::sig_atomic_t>(event + 1);
    return TRUE;
}
#endif

void install_stop_signals()
{
#ifdef _WIN32
    SetConsoleCtrlHandler(on_console_event, TRUE);
#else
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;  // a second signal ends the program at once
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

constexpr const char* usage =
    "Uso: placatermo [--batch] [--graficos] [--vtk] [--multigrid=CICLO] | --help | --version\n"
    "\n"
    "Resolve a difusão de calor bidimensional permanente numa placa retangular com os\n"
    "parâmetros do arquivo placatermo.ent do diretório atual (criado com valores padrão\n"
    "quando não existe), e grava os arquivos de resultados, Tx.dat, Ty.dat, Tx.gnu e Ty.gnu.\n"
    "\n"
    "  --batch     não abre o editor de texto no início nem no fim (para séries de execuções)\n"
    "  --graficos  desenha também historico.png, campo.png e erro.png (com o gnuplot)\n"
    "  --vtk       grava também o campo de temperaturas num arquivo VTK (para o ParaView),\n"
    "              com o nome do arquivo de resultados e a extensão .vtk\n"
    "  --multigrid=classico\n"
    "              com mais de uma malha, um ciclo V de livro-texto (restrição pela soma dos\n"
    "              quatro resíduos finos, interpolação bilinear entre os centros) em vez do\n"
    "              ciclo especificado (--multigrid=especificado, o padrão); o arquivo de\n"
    "              resultados diz numa linha a mais qual ciclo rodou\n"
    "  --help      mostra este texto\n"
    "  --version   mostra a versão do programa\n"
    "\n"
#ifdef _WIN32
    "O editor é o notepad e o programa de gráficos o wgnuplot.\n";
#else
    "O editor é o comando da variável VISUAL, senão EDITOR, senão sensible-editor (quando\n"
    "existe), senão vi.\n";
#endif

}  // namespace

int main(int argc, char** argv)
{
#ifdef _WIN32
    // the messages are UTF-8
    SetConsoleOutputCP(CP_UTF8);
#endif
    placatermo::SystemPlatform platform;
    if (argc >= 2 && std::strcmp(argv[1], "estudo") == 0) {
        install_stop_signals();
        placatermo::keep_released_memory();
        placatermo::give_children_a_character_set();
        try {
            const auto options = placatermo::parse_study_arguments(argc, argv);
            return placatermo::run_study(options, platform, [] { return stop_signal != 0; });
        } catch (const placatermo::FatalError& error) {
            std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
        } catch (const std::exception& error) {
            std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
        }
        return 2;
    }
    placatermo::RunContext run(platform);
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--batch") == 0) {
            run.options.batch = true;
        } else if (std::strcmp(argv[i], "--graficos") == 0) {
            run.options.pictures = true;
        } else if (std::strcmp(argv[i], "--vtk") == 0) {
            run.options.vtk = true;
        } else if (std::strcmp(argv[i], "--multigrid=especificado") == 0) {
            run.options.cycle = placatermo::MultigridCycle::specified;
        } else if (std::strcmp(argv[i], "--multigrid=classico") == 0) {
            run.options.cycle = placatermo::MultigridCycle::textbook;
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("placatermo " PLACATERMO_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "placatermo: argumento desconhecido: %s\n%s", argv[i], usage);
            return 2;
        }
    }
    install_stop_signals();
    placatermo::keep_released_memory();
    placatermo::give_children_a_character_set();
    run.stop_requested = [] { return stop_signal != 0; };
    try {
        placatermo::run_program(run);
        return 0;
    } catch (const placatermo::FatalError& error) {
        std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "placatermo: erro interno: %s\n", error.what());
    }
    return 1;
}
