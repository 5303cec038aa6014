// placatermo: steady two-dimensional heat diffusion on a plate.
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "base/errors.hpp"
#include "platform/stop_signals.hpp"
#include "run/execution.hpp"
#include "run/program.hpp"
#include "studies/study.hpp"

namespace {

constexpr const char* usage =
    "Uso: placatermo [--batch] [--graficos] [--animacao] [--vtk] [--json] [--multigrid=CICLO] | --help | --version\n"
    "     placatermo estudo PASTA --variar R=V1,V2,... [opções do estudo]\n"
    "\n"
    "Resolve a difusão de calor bidimensional permanente numa placa retangular com os\n"
    "parâmetros do arquivo placatermo.ent do diretório atual (criado com valores padrão\n"
    "quando não existe), e grava os arquivos de resultados, Tx.dat, Ty.dat, Tx.gnu e Ty.gnu.\n"
    "\n"
    "  --batch     não abre o editor de texto no início nem no fim (para séries de execuções)\n"
    "  --graficos  desenha também historico.png, campo.png e erro.png (com o gnuplot) e, com\n"
    "              mais de uma malha, niveis.png (o resíduo de cada malha a cada ciclo)\n"
    "  --animacao  desenha também iteracoes.gif (com o gnuplot): a cada iteração externa (até uns\n"
    "              100 quadros), o erro e o resíduo da malha mais fina, lado a lado\n"
    "  --vtk       grava também o campo de temperaturas num arquivo VTK (para o ParaView),\n"
    "              com o nome do arquivo de resultados e a extensão .vtk\n"
    "  --json      grava também o registro da execução em JSON, com todos os dígitos, com o\n"
    "              nome do arquivo de resultados e a extensão .json\n"
    "  --multigrid=classico\n"
    "              com mais de uma malha, um ciclo V de livro-texto (restrição pela soma dos\n"
    "              quatro resíduos finos, interpolação bilinear entre os centros) em vez do\n"
    "              ciclo especificado (--multigrid=especificado, o padrão); o arquivo de\n"
    "              resultados diz numa linha a mais qual ciclo rodou\n"
    "  estudo      roda uma série de execuções que variam registros da entrada (em paralelo,\n"
    "              ou num cluster Slurm) e monta a tabela PASTA/estudo.csv; as opções do estudo\n"
    "              em placatermo estudo --help\n"
    "  --help      mostra este texto\n"
    "  --version   mostra a versão do programa\n"
    "\n";

}  // namespace

int main(int argc, char** argv)
{
    placatermo::set_console_to_utf8();
    placatermo::SystemPlatform platform;
    if (argc >= 2 && std::strcmp(argv[1], "estudo") == 0) {
        // a study ends when its runs have stopped and its table is written
        placatermo::install_stop_signals(placatermo::StopDeadline::none);
        placatermo::give_children_a_character_set();
        try {
            const auto options = placatermo::parse_study_arguments(argc, argv);
            const int status = placatermo::run_study(options, platform, placatermo::stop_was_requested);
            placatermo::claim_the_end();
            return status;
        } catch (const placatermo::FatalError& error) {
            placatermo::claim_the_end();
            std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
        } catch (const std::exception& error) {
            placatermo::claim_the_end();
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
        } else if (std::strcmp(argv[i], "--animacao") == 0) {
            run.options.animation = true;
        } else if (std::strcmp(argv[i], "--vtk") == 0) {
            run.options.vtk = true;
        } else if (std::strcmp(argv[i], "--json") == 0) {
            run.options.record = true;
        } else if (std::strncmp(argv[i], "--multigrid=", 12) == 0 && placatermo::cycle_from_name(argv[i] + 12)) {
            run.options.cycle = placatermo::cycle_from_name(argv[i] + 12);
        } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            std::fputs(placatermo::editor_and_plotter_help.data(), stdout);
            return 0;
        } else if (std::strcmp(argv[i], "--version") == 0) {
            std::fputs("placatermo " PLACATERMO_VERSION "\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "placatermo: argumento desconhecido: %s\n%s%s", argv[i], usage,
                         placatermo::editor_and_plotter_help.data());
            return 2;
        }
    }
    placatermo::install_stop_signals(placatermo::StopDeadline::about_a_second);
    run.execution = placatermo::start_execution(placatermo::ExecutionThreads::two_when_free);
    placatermo::give_children_a_character_set();
    run.stop_requested = placatermo::stop_was_requested;
    if (placatermo::stderr_is_terminal()) run.progress = placatermo::rewrite_stderr_line;
    try {
        placatermo::run_program(run);
        placatermo::claim_the_end();
        if (!placatermo::stop_was_requested()) return 0;
        // the stop came when there was nothing left to stop
        std::fprintf(stderr,
                     "placatermo: erro: execução interrompida no fim; os arquivos da execução estão completos\n");
        return 1;
    } catch (const placatermo::FatalError& error) {
        placatermo::claim_the_end();
        std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
    } catch (const std::bad_alloc&) {
        placatermo::claim_the_end();
        std::fprintf(stderr, "placatermo: erro: memória insuficiente\n");
    } catch (const std::exception& error) {
        placatermo::claim_the_end();
        std::fprintf(stderr, "placatermo: erro interno: %s\n", error.what());
    }
    return 1;
}
