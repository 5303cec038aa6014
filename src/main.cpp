// placatermo: steady two-dimensional heat diffusion on a plate.
#include <cstdio>
#include <exception>
#include <new>

#include "base/errors.hpp"
#include "platform/stop_signals.hpp"
#include "run/command_line.hpp"
#include "run/execution.hpp"
#include "run/program.hpp"
#include "studies/study.hpp"

int main(int argc, char** argv)
{
    placatermo::set_console_to_utf8();
    placatermo::SystemPlatform platform;
    placatermo::ProgramCommandLine line;
    for (int i = 1; i < argc && !line.study && !line.help && !line.version; ++i) {
        try {
            if (placatermo::take_option(placatermo::program_options(), argc, argv, i, line)) continue;
        } catch (const placatermo::FatalError& error) {
            std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
            return 2;
        }
        std::fprintf(stderr, "placatermo: argumento desconhecido: %s\n%s%s", argv[i],
                     placatermo::program_usage_text().c_str(), placatermo::editor_and_plotter_help.data());
        return 2;
    }
    if (line.help) {
        std::fputs(placatermo::program_usage_text().c_str(), stdout);
        std::fputs(placatermo::editor_and_plotter_help.data(), stdout);
        return 0;
    }
    if (line.version) {
        std::fputs("placatermo " PLACATERMO_VERSION "\n", stdout);
        return 0;
    }
    if (line.study) {
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
    run.options = line.options;
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
    } catch (const placatermo::CommandLineError& error) {
        placatermo::claim_the_end();
        std::fprintf(stderr, "placatermo: erro: %s\n", error.what());
        return 2;
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
