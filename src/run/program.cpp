#include "run/program.hpp"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "base/errors.hpp"
#include "experiment/settings.hpp"
#include "platform/stop_signals.hpp"
#include "results/picture_check.hpp"
#include "results/record.hpp"
#include "results/results.hpp"
#include "run/execution.hpp"
#include "run/progress.hpp"
#include "run/run_files.hpp"

namespace placatermo {

namespace {

constexpr std::string_view window_title = "PLACATERMO (Difusão de Calor Bidimensional Permanente)";

// The interpreter's answer when it could not find or start a program.
bool not_started(int status) { return status == 126 || status == 127; }

// Runs a command. A program that cannot be found is not started (the
// interpreter would only say so in its own words, in English): the run says
// it once (`warned`), what it is and how to get one, and the command answers
// as the interpreter would, 127. A program found but not started is said
// once too, with the command.
int run_and_check(RunContext& run, const std::string& command, bool& warned, std::string_view what,
                  std::string_view remedy, std::string* errors = nullptr)
{
    if (const std::string missing = run.platform.missing_program(command); !missing.empty()) {
        if (!warned)
            run.platform.warn("aviso: " + std::string(what) + " (" + missing +
                              ") não foi encontrado: " + std::string(remedy));
        warned = true;
        return 127;
    }
    const int status = errors != nullptr ? run.platform.run_command_catching_errors(command, *errors)
                                         : run.platform.run_command(command);
    if (not_started(status) && !warned) {
        warned = true;
        run.platform.warn("aviso: " + std::string(what) + " não pôde ser iniciado (comando " + command +
                          "): " + std::string(remedy));
    }
    return status;
}

// A folder of the run's own in the temporary folder, removed with what it
// holds at the end of its scope, or by an end at a stop signal; an empty path
// when none could be made.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::error_code error;
        for (int attempt = 0; attempt < 100; ++attempt) {
            path_ = std::filesystem::temp_directory_path(error) /
                    ("placatermo-" +
                     std::to_string(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000007) + "-" +
                     std::to_string(attempt));
            if (!error && make_temporary_folder(path_, error)) return;
        }
        path_.clear();
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder()
    {
        std::error_code error;
        if (path_.empty()) return;
        std::filesystem::remove_all(path_, error);
        forget_temporary_path(path_);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// The name the plotting program is asked about before the frames are made.
constexpr std::string_view animation_script = "animacao.gnu";

constexpr std::string_view plotter_what = "o programa de gráficos";

// "x" of gnuplot's "Warning: empty x range [0:0], adjusting to [-1:1]" (with
// or without the script's place before it), and the two ranges.
struct EmptyRange {
    std::string axis, range, drawn;
};
std::optional<EmptyRange> empty_range(std::string_view line)
{
    constexpr std::string_view mark = "Warning: empty ", range = " range [", adjusted = "], adjusting to [";
    const auto at = line.find(mark);
    if (at == std::string_view::npos) return std::nullopt;
    line.remove_prefix(at + mark.size());
    const auto axis_end = line.find(range), range_end = line.find(adjusted);
    if (axis_end == std::string_view::npos || range_end == std::string_view::npos || range_end < axis_end ||
        !line.ends_with("]"))
        return std::nullopt;
    const auto bounds = [](std::string_view text) {
        std::string words(text);
        const auto colon = words.find(':');
        return colon == std::string::npos ? words : words.substr(0, colon) + " a " + words.substr(colon + 1);
    };
    const std::string_view values = line.substr(axis_end + range.size(), range_end - axis_end - range.size());
    const std::string_view drawn =
        line.substr(range_end + adjusted.size(), line.size() - 1 - range_end - adjusted.size());
    return EmptyRange{std::string(line.substr(0, axis_end)), std::string(values.substr(0, values.find(':'))),
                      bounds(drawn)};
}

// What the plotting program said on its standard error while drawing
// `drawing`, for the user: its count of frames (English, on every animation)
// left out; an empty axis range (a zero length, or a constant field, in the
// input) said once in Portuguese; anything else passed on line by line.
void pass_on_plotter_errors(RunContext& run, std::string_view text, std::string_view drawing)
{
    std::string kept;
    std::vector<EmptyRange> empty;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t digits = line.find_first_not_of("0123456789");
        if (digits != 0 && digits != std::string_view::npos && line.substr(digits) == " frames in animation sequence")
            continue;
        std::string_view bare = line;
        while (!bare.empty() && (bare.back() == '\r' || bare.back() == ' ')) bare.remove_suffix(1);
        if (const auto range = empty_range(bare)) {
            if (std::none_of(empty.begin(), empty.end(), [&](const EmptyRange& e) { return e.axis == range->axis; }))
                empty.push_back(*range);
            continue;
        }
        kept.append(line).append("\n");
    }
    // blank lines alone (gnuplot's end on an interrupt) say nothing
    if (kept.find_first_not_of('\n') != std::string::npos) {
        kept.pop_back();
        run.platform.warn(kept);
    }
    if (empty.empty()) return;
    std::string said;
    for (const auto& e : empty)
        said += (said.empty() ? "" : "; ") + std::string("o eixo ") + e.axis +
                " não tem extensão (todos os valores são " + e.range + ") e foi desenhado de " + e.drawn;
    run.platform.warn("aviso: " + std::string(drawing) + ": " + said +
                      " (um comprimento zero ou um campo constante na entrada?)");
}

// The plotting program, its standard error read (see pass_on_plotter_errors).
int run_plotter_command(RunContext& run, const std::string& command, std::string_view drawing)
{
    std::string errors;
    run.state.plotter_missing = !run.platform.missing_program(command).empty();
    const int status =
        run_and_check(run, command, run.state.plotter_warned, plotter_what, plotting_program_remedy, &errors);
    pass_on_plotter_errors(run, errors, drawing);
    return status;
}

// False for a folder or a fifo of that name: the plotting program could not
// write it, or would wait forever for a reader.
bool can_be_drawn_over(const std::string& name)
{
    std::error_code error;
    const std::filesystem::file_status kind = std::filesystem::status(name, error);
    return !std::filesystem::exists(kind) || std::filesystem::is_regular_file(kind);
}

// Whether a plain file of that name holds a whole picture (PNG, or GIF by
// its name).
bool picture_is_whole(const std::string& name)
{
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::status(name, error))) return false;
    std::string bytes;
    try {
        if (!read_whole_file(name, bytes)) return false;
    } catch (const FatalError&) {
        return false;
    }
    return picture_bytes_whole(name, bytes);
}

void fail_picture(RunContext& run, std::string_view picture, std::string why)
{
    run.state.failed_pictures.push_back({run.file(picture), std::move(why)});
}

// After the plotting program ran on a script that draws `picture`: the
// picture counts as drawn only when the file is whole (and, for the
// animation, the program ended with 0), since the program ends with 0 after
// a failed write too. One that is not is removed
// when it is a plain file (never through a link), and named at the run's end.
void check_picture(RunContext& run, std::string_view picture, int status)
{
    // a plotting program not found has been named already; without an
    // interpreter (-1) the run goes on as if it had run
    if (run.state.plotter_missing || status == -1) return;
    namespace fs = std::filesystem;
    const std::string name = run.file(picture);
    for (const auto& failed : run.state.failed_pictures)
        if (failed.name == name) return;
    if (!can_be_drawn_over(name))
        return fail_picture(run, picture, "\"" + cp1252_to_utf8(name) + "\" já existe e não é um arquivo comum");
    std::string bytes;
    bool found = false;
    try {
        found = read_whole_file(name, bytes);
    } catch (const FatalError& error) {
        return fail_picture(run, picture, error.what());
    }
    // a PNG is written whole only once its picture is complete (the program
    // may still fail on a later one of its script); an animation stopped
    // half-way may close a whole GIF of the frames drawn so far
    if (found && (status == 0 || !picture.ends_with(".gif")) && picture_bytes_whole(picture, bytes)) return;
    std::string why = status != 0 ? "o programa de gráficos terminou com o código " + std::to_string(status)
                      : !found    ? "o programa de gráficos não gravou o arquivo"
                                  : "o arquivo que o programa de gráficos gravou ficou incompleto (disco cheio?)";
    std::error_code error;
    if (found && fs::is_regular_file(fs::symlink_status(name, error)) && fs::remove(name, error))
        why += "; o arquivo incompleto foi apagado";
    fail_picture(run, picture, std::move(why));
}

// A profile's picture is the run's to check when the script's kept header
// draws it (the default one does; an edited one may draw another file).
void check_profile_picture(RunContext& run, std::string_view script, std::string_view picture, int status)
{
    std::string text;
    if (!read_whole_file(run.file(script), text)) return;
    std::size_t header_end = 0;
    for (int line = 0; line < 6 && header_end < text.size(); ++line)
        header_end = std::min(text.find('\n', header_end), text.size()) + 1;
    if (std::string_view(text).substr(0, header_end).find(picture) == std::string_view::npos) return;
    check_picture(run, picture, status);
}

// The plotting program on a script; the command status that the run keeps:
// 1 when the interpreter ran (or would have).
int run_plotter(RunContext& run, std::string_view script)
{
    const std::string_view picture = script == "Tx.gnu" ? "Tx.png" : script == "Ty.gnu" ? "Ty.png" : script;
    // a fifo there would keep the plotting program waiting for a reader for
    // ever; a folder it could not write
    if (picture != script && !can_be_drawn_over(run.file(picture))) {
        fail_picture(run, picture, "\"" + cp1252_to_utf8(run.file(picture)) + "\" já existe e não é um arquivo comum");
        return 1;
    }
    const int status = run_plotter_command(run, run.platform.plot_command(script), picture);
    if (picture != script) check_profile_picture(run, script, picture, status);
    return status != -1 ? 1 : 0;
}

int run_editor(RunContext& run, std::string_view file_name)
{
    return run_and_check(run, run.platform.editor_command(file_name), run.state.editor_warned, "o editor de texto",
                         "escolha outro com a variável EDITOR, por exemplo EDITOR=nano");
}

}  // namespace

namespace {

void write_input(const std::string& name, std::string_view bytes)
{
    OutputFile file(name);
    file.write(bytes);
    file.close();
}

// The input with the values of --definir, written in place (the lock stays
// on it); one cut short (a full disk) is put back as it was, with or without
// the editor to follow.
void write_defined_input(const std::string& name, std::string_view bytes, std::string_view earlier)
{
    try {
        write_input(name, bytes);
    } catch (const FatalError&) {
        try {
            write_input(name, earlier);
        } catch (const FatalError&) {
        }
        throw;
    }
}

// --definir: the values written into the input's bytes, checked by the
// reader before anything is written; a refusal leaves the folder as it was
// (an input that the lock's open call made goes again).
std::string define_input_values(RunContext& run, const std::string& bytes, bool made)
{
    const std::string name = run.file(input_file_name);
    const auto refuse = [&](const std::string& why) {
        if (made) {
            run.input_lock.reset();
            std::error_code error;
            if (std::filesystem::is_regular_file(std::filesystem::symlink_status(name, error)) &&
                std::filesystem::file_size(name, error) == 0 && !error)
                std::filesystem::remove(name, error);
        }
        throw CommandLineError(why + "; nenhum arquivo foi gravado");
    };
    std::error_code error;
    if (!made && !std::filesystem::is_regular_file(std::filesystem::symlink_status(name, error)))
        refuse("--definir: o arquivo de entrada \"" + cp1252_to_utf8(name) +
               "\" não é um arquivo comum (uma ligação simbólica?), e --definir não grava através dele");
    try {
        return input_with_settings(bytes, name, run.options.settings);
    } catch (const FatalError& reader) {
        refuse(reader.what());
    }
    return {};
}

}  // namespace

void read_input_data(RunContext& run)
{
    const std::string name = run.file(input_file_name);
    std::string bytes;
    // the lock's open call creates a missing input empty
    const bool made = (run.input_lock && run.input_lock->created()) || !read_whole_file(name, bytes);
    if (made) bytes = default_input_file();
    if (!run.options.settings.empty()) {
        std::string defined = define_input_values(run, bytes, made);
        if (!made) run.state.earlier_input = std::move(bytes);
        bytes = std::move(defined);
        // a batch run writes them once the earlier run's files are aside;
        // the editor shows them
        if (run.options.batch && !made) {
            run.state.defined_input = bytes;
            run.input = parse_input_data(bytes, name);
            return;
        }
    }
    if (run.state.earlier_input)
        write_defined_input(name, bytes, *run.state.earlier_input);
    else if (made)
        write_input(name, bytes);
    if (!run.options.batch) run.state.command_status = run_editor(run, input_file_name);
    follow_input_file(run);
    if (!read_whole_file(name, bytes)) {
        // Removed in the editor: it is read as an empty file.
        OutputFile file(name);
        file.close();
        bytes.clear();
    }
    run.input = parse_input_data(bytes, name);
}

void open_results_file(RunContext& run)
{
    run.results = std::make_unique<OutputFile>(run.file(run.input.experiment_name.trimmed()));
    run.state.stamps = run_stamps(run.platform.local_time(), run.input);
    write_results_head(*run.results, run.input, run.options.cycle, run.state.stamps);
    run.results->flush();
}

namespace {

// The program's side of the solution: each history line into the results
// file as it comes (a reader following the file sees it within about a
// second) and onto the progress line.
class ProgramObserver final : public SolutionObserver {
public:
    ProgramObserver(OutputFile& results, ProgressLine* progress) : results_(results), progress_(progress) {}
    void history_line(std::int32_t iteration, double ratio) override
    {
        write_history_line(results_, iteration, ratio);
        results_.flush_when_due();
        if (progress_ != nullptr) progress_->update(iteration, ratio);
    }

private:
    OutputFile& results_;
    ProgressLine* progress_;
};

}  // namespace

void solve_plate(RunContext& run)
{
    ExperimentOptions options;
    options.cycle = run.options.cycle;
    options.keep_history = run.options.pictures || run.options.record;
    options.keep_level_norms = run.options.pictures;
    options.execution = run.execution;
    // the frames only when they can be drawn: without the plotting program the
    // run says so once at its end
    options.keep_frames =
        run.options.animation && run.platform.missing_program(run.platform.plot_command(animation_script)).empty();
    options.analytical = run.options.pictures || run.options.record;
    options.clock = [&run] { return run.platform.clock_seconds(); };
    options.stop_requested = run.stop_requested;
    // the progress line on its own clock, so that the processing time is read
    // as without it; erased when the solution ends, however it ends
    std::optional<ProgressLine> progress;
    if (run.progress)
        progress.emplace(
            [] { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); },
            run.progress, run.input.tolerance, run.input.max_outer_iterations);
    ProgramObserver observer(*run.results, progress ? &*progress : nullptr);
    try {
        const IterationsUnderway iterating;
        run.outcome = run_experiment(run.input, options, &observer);
    } catch (const SolutionStopped& stopped) {
        run.results->flush();
        throw FatalError("execução interrompida na iteração externa " + std::to_string(stopped.iteration) +
                         "; o arquivo \"" + run.results->name() + "\" contém o histórico das iterações até aqui");
    }
}

int write_profile_files(RunContext& run, char axis)
{
    OutputFile data(run.file(profile_data_name(axis)));
    write_profile(*run.results, data, run.outcome, axis);
    data.close();
    const std::string script_name = run.file(profile_script_name(axis));
    std::string script;
    if (!read_whole_file(script_name, script)) script.clear();
    OutputFile script_file(script_name);
    script_file.write(profile_script(script, axis, run.state.stamps.plot_title.view()));
    script_file.close();
    return run_plotter(run, profile_script_name(axis));
}

void write_results(RunContext& run)
{
    write_field_listing(*run.results, run.outcome, run.execution);
    run.state.command_status = write_profile_files(run, 'x');
    run.state.command_status = write_profile_files(run, 'y');
    write_comparison(*run.results, run.outcome);
}

void write_processing_time(RunContext& run) { placatermo::write_processing_time(*run.results, run.outcome); }

void write_summary(RunContext& run)
{
    OutputFile file(run.file(run.input.discretization_file_name.trimmed()));
    write_summary_file(file, run.outcome, run.state.stamps);
    file.close();
}

void close_results_file(RunContext& run)
{
    run.results->close();
    run.results.reset();
}

void write_vtk(RunContext& run)
{
    OutputFile file(run_vtk_file(run));
    write_vtk_file(file, run.outcome, run.state.stamps);
    file.close();
}

void write_record(RunContext& run)
{
    std::string input_bytes;
    read_whole_file(run.file(input_file_name), input_bytes);
    const InputParameters& in = run.input;
    write_file_atomically(
        run.file(record_file_name(in.experiment_name.trimmed(), in.discretization_file_name.trimmed())),
        run_record_json(run_record(run.outcome, input_bytes)));
}

void draw_pictures(RunContext& run)
{
    // without the plotting program (named once already) no script is written
    if (run.state.plotter_warned && !run.platform.missing_program(run.platform.plot_command("graficos.gnu")).empty())
        return;
    std::vector<std::string_view> pictures = {"historico.png", "campo.png", "erro.png"};
    if (!run.outcome.level_norms.empty()) pictures.push_back("niveis.png");
    const auto fail_all = [&](const std::string& why) {
        for (const auto picture : pictures) fail_picture(run, picture, why);
    };
    // one script draws them all: a folder or a fifo in the place of one
    // stops them all
    for (const auto picture : pictures)
        if (!can_be_drawn_over(run.file(picture)))
            return fail_all("\"" + cp1252_to_utf8(run.file(picture)) + "\" já existe e não é um arquivo comum");
    const Outcome& outcome = run.outcome;
    const std::string title = pictures_title(run.input, run.state.stamps);
    std::string script = pictures_script(outcome.plate, outcome.grid, outcome.t, outcome.history, run.input.tolerance,
                                         outcome.error, title);
    if (!outcome.level_norms.empty()) script += levels_script(outcome.level_norms, cycle_name(outcome.cycle()), title);
    // the script goes into a folder of its own in the temporary folder, removed
    // afterwards: only the pictures stay in the working folder
    const TemporaryFolder folder;
    if (folder.path().empty()) return fail_all("não foi possível criar uma pasta temporária para o script");
    const std::string script_name = (folder.path() / "graficos.gnu").string();
    try {
        OutputFile file(script_name);
        file.write(script);
        file.close();
    } catch (const FatalError& error) {
        return fail_all(error.what());
    }
    const int status = run_plotter_command(run, run.platform.plot_command(script_name), "as figuras de --graficos");
    for (const auto picture : pictures) check_picture(run, picture, status);
}

void draw_animation(RunContext& run)
{
    const std::string not_drawn = "aviso: a animação " + std::string(animation_file_name) + " não foi desenhada: ";
    if (!run.outcome.frames) {
        // the plotting program was missing when the run started (and has been
        // named with the profiles), or there was no outer iteration to show
        run.platform.warn(not_drawn + (run.outcome.iterations < 1 ? "não houve iteração externa"
                                                                  : "o programa de gráficos não foi encontrado"));
        return;
    }
    const std::string gif_name = run.file(animation_file_name);
    if (!can_be_drawn_over(gif_name))
        return fail_picture(run, animation_file_name,
                            "\"" + cp1252_to_utf8(gif_name) + "\" já existe e não é um arquivo comum");
    const TemporaryFolder folder;
    if (folder.path().empty())
        return fail_picture(run, animation_file_name, "não foi possível criar uma pasta temporária para os quadros");
    // the frames (tens of MiB for large grids) and the script in the temporary
    // folder
    const std::string data_name = (folder.path() / "quadros.bin").string();
    const std::string script_name = (folder.path() / animation_script).string();
    try {
        const IterationFrames& frames = *run.outcome.frames;
        const IterationFrames::Range range = frames.residual_range();
        OutputFile data(data_name);
        for (std::size_t f = 0; f < frames.frames().size(); ++f) data.write(frames.frame_data(f, range));
        data.close();
        OutputFile script(script_name);
        script.write(frames.script(data_name, pictures_title(run.input, run.state.stamps)));
        script.close();
    } catch (const FatalError& error) {
        return fail_picture(run, animation_file_name, error.what());
    }
    const int status = run_plotter_command(run, run.platform.plot_command(script_name), animation_file_name);
    check_picture(run, animation_file_name, status);
    // the interrupt that stopped the plotting program stops the run (after
    // its other files, which are whole)
    if (run.stop_requested() && !run.state.failed_pictures.empty())
        throw FatalError("execução interrompida enquanto a animação " + std::string(animation_file_name) +
                         " era desenhada");
}

void warn_if_diverged(RunContext& run)
{
    if (const auto warning = divergence_warning(run.outcome)) run.platform.warn(*warning);
}

void show_results(RunContext& run)
{
    if (run.options.batch) return;
    run.state.command_status = run_editor(run, run.input.experiment_name.trimmed());
}

namespace {

// A stop asked for outside the iterations ends the run at its next step.
void stop_if_requested(const RunContext& run, std::string_view when)
{
    if (run.stop_requested()) throw FatalError("execução interrompida " + std::string(when));
}

}  // namespace

void write_run_files(RunContext& run)
{
    open_results_file(run);
    stop_if_requested(run, "antes das iterações");
    solve_plate(run);
    constexpr std::string_view writing = "depois das iterações, enquanto os arquivos eram gravados";
    write_results(run);
    stop_if_requested(run, writing);
    write_processing_time(run);
    write_summary(run);
    close_results_file(run);
    stop_if_requested(run, writing);
    if (run.options.vtk) write_vtk(run);
    stop_if_requested(run, writing);
    if (run.options.pictures) draw_pictures(run);
    stop_if_requested(run, writing);
    if (run.options.animation) draw_animation(run);
    stop_if_requested(run, writing);
    if (run.options.record) write_record(run);
    stop_if_requested(run, writing);
}

namespace {

// An input that --definir cannot write (read-only) fails the run before the
// earlier files are set aside, not after.
void check_input_writable(const std::string& name)
{
    errno = 0;
    std::FILE* file = std::fopen(name.c_str(), "r+b");
    if (file == nullptr) {
        try {
            fail_file("não foi possível gravar", name, errno);
        } catch (const FatalError& error) {
            throw FatalError(std::string(error.what()) + "; nenhum arquivo foi gravado");
        }
    }
    std::fclose(file);
}

}  // namespace

void write_keeping_earlier_files(RunContext& run, const std::vector<RunFile>& files)
{
    if (run.state.defined_input) check_input_writable(files.front().name);
    const EarlierFiles earlier =
        set_aside_earlier_files(files, run.state.earlier_input ? &*run.state.earlier_input : nullptr);

    std::string where;
    for (const auto& folder : earlier.folders())
        where += (where.empty() ? "\"" : ", \"") + cp1252_to_utf8(folder) + "\"";
    const std::string note = "os arquivos completos da execução anterior estão em " + where;
    try {
        std::optional<StopNote> said_at_a_stop;
        if (!earlier.empty()) said_at_a_stop.emplace(note);
        if (run.state.defined_input)
            write_defined_input(files.front().name, *run.state.defined_input, *run.state.earlier_input);
        write_run_files(run);
    } catch (const FatalError& error) {
        if (earlier.empty()) throw;
        throw FatalError(std::string(error.what()) + "\n" + note);
    }
    // the earlier copy of every picture not drawn whole again stays: one
    // that failed, and one not drawn at all (no plotting program)
    std::vector<std::string> still_needed;
    for (auto& failed : run.state.failed_pictures) {
        still_needed.push_back(failed.name);
        if (const auto folder = earlier.folder_of(failed.name))
            failed.why += "; a da execução anterior continua em \"" + cp1252_to_utf8(*folder) + "\"";
    }
    for (const auto& file : files)
        if (file.picture && !picture_is_whole(file.name)) still_needed.push_back(file.name);
    earlier.discard(still_needed);
}

// A run whose pictures were not all drawn fails once every other file is
// written.
void fail_if_pictures_failed(const RunContext& run)
{
    if (run.state.failed_pictures.empty()) return;
    std::string text;
    for (const auto& failed : run.state.failed_pictures) {
        if (!text.empty()) text += '\n';
        text.append("a figura \"")
            .append(cp1252_to_utf8(failed.name))
            .append("\" não foi desenhada: ")
            .append(failed.why);
    }
    throw FatalError(text + "\nos resultados em texto estão completos");
}

void run_program(RunContext& run)
{
    run.platform.set_window_title(window_title);
    lock_run_folder(run);
    read_input_data(run);
    for (const auto& warning : run.input.warnings) run.platform.warn(warning);
    const std::vector<RunFile> files = run_files(run);
    check_run_files(run, files);
    const std::int32_t finest = run.input.grid_count;
    const MultigridCycle cycle = run.options.cycle.value_or(MultigridCycle::specified);
    const double frame_bytes = run.options.animation ? IterationFrames::memory_bytes(run.input.grids.nx_of(finest),
                                                                                     run.input.grids.ny_of(finest))
                                                     : 0.0;
    lay_heap_for_run(run.execution,
                     check_memory(run.input, physical_memory_bytes(), run.file(input_file_name), cycle, frame_bytes));
    stop_if_requested(run, "antes de começar a gravar; nenhum arquivo de resultados foi gravado");
    write_keeping_earlier_files(run, files);
    warn_if_diverged(run);
    show_results(run);
    run.input_lock.reset();
    fail_if_pictures_failed(run);
}

}  // namespace placatermo
