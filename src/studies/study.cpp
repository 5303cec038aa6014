// A study: the run folders, the runs in parallel (or the job files for a
// cluster), the progress, and the table at the end.
#include "studies/study.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>
#include <unordered_set>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "platform/study_lock.hpp"
#include "report/output_file.hpp"
#include "results/record.hpp"
#include "run/context.hpp"
#include "run/execution.hpp"
#include "run/program.hpp"

namespace placatermo {

namespace {

constexpr std::string_view study_usage =
    "uso: placatermo estudo PASTA --variar R=V1,V2,... [--variar ...] [--multigrid=C1,C2]\n"
    "                       [--tarefas N] [--preparar]\n"
    "     placatermo estudo PASTA --continuar [--tarefas N] [as mesmas listas]\n"
    "     placatermo estudo PASTA --coletar [as mesmas listas]";

constexpr std::string_view study_help =
    "\n"
    "Roda o arquivo placatermo.ent do diretório atual (a entrada base) com alguns valores\n"
    "variados, cada execução numa pasta PASTA/001, PASTA/002, ..., e monta a tabela\n"
    "PASTA/estudo.csv (e estudo.md) com os resultados de todas.\n"
    "\n"
    "  --variar R=V1,V2,...  os valores do registro R (4 a 15) da entrada; um só valor fixa\n"
    "                        o registro em todas as execuções\n"
    "  --multigrid=C1,C2     os ciclos multigrid (especificado, classico)\n"
    "  --tarefas N           execuções ao mesmo tempo (padrão: o número de núcleos)\n"
    "  --preparar            só grava as pastas e os arquivos tarefas.txt e slurm.sh\n"
    "  --continuar           roda só as execuções sem resultado completo (interrompidas,\n"
    "                        que falharam ou que não começaram) e monta a tabela\n"
    "  --coletar             só monta a tabela com os registros das execuções\n"
    "  --                    o que vem depois é a pasta (para um nome que começa com '-')\n"
    "\n"
    "O desenho do estudo (entrada base, listas, execuções) fica em PASTA/estudo.json;\n"
    "--continuar e --coletar o leem e recusam listas diferentes. Cada execução grava o\n"
    "registro <resultados>.json (como --json). Um estudo por pasta: um segundo estudo na\n"
    "mesma pasta é recusado enquanto o primeiro trabalha.\n";

[[noreturn]] void refuse(const std::string& what) { throw FatalError(what + "\n" + std::string(study_usage)); }

// A name or value quoted for a message: control characters shown as \n or \xNN.
std::string shown(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n')
            out += "\\n";
        else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02X", byte);
            out += code;
        } else
            out += c;
    }
    return out;
}

bool has_control_character(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// A value of a record as it will stand in a run's input: printable ASCII
// without blanks and without the marks that end or enclose a value.
void check_values(const std::string& argument, const std::vector<std::string>& values)
{
    std::unordered_set<std::string_view> seen;
    for (std::size_t k = 0; k < values.size(); ++k) {
        const std::string& value = values[k];
        if (value.empty()) refuse(shown(argument) + ": há um valor vazio na lista");
        for (const char c : value) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x20 || byte >= 0x7F || c == '/' || c == '\'' || c == '"')
                refuse(shown(argument) + ": o valor \"" + shown(value) +
                       "\" tem um caractere que não pode estar num valor da entrada");
        }
        // a set, not a comparison of each pair: lists of thousands of values
        if (!seen.insert(value).second) refuse(shown(argument) + ": o valor " + value + " aparece duas vezes");
    }
}

// The Portuguese text of a failed file-system operation.
std::string file_system_message(const std::filesystem::filesystem_error& error)
{
    std::string text = "operação de arquivos falhou";
    if (!error.path1().empty()) text += " em \"" + error.path1().string() + "\"";
    return text + ": " + system_error_text(error.code());
}

std::vector<std::string> split_values(std::string_view text)
{
    std::vector<std::string> values;
    std::size_t start = 0;
    for (;;) {
        const auto comma = text.find(',', start);
        values.emplace_back(
            text.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return values;
}

// Runs of a study in one process: each run's files in its folder, and the
// commands it starts run in that folder too.
class FolderPlatform : public Platform {
public:
    FolderPlatform(SystemPlatform& system, std::filesystem::path folder, bool plotter_found)
        : system_(system), folder_(std::move(folder)), plotter_found_(plotter_found)
    {
    }
    int run_command(const std::string& command) override
    {
        // without a plotting program the interpreter would only say so: its
        // answer, without starting it for every run
        if (!plotter_found_) return 127;
        return system_.run_command(in_folder(command));
    }
    int run_command_catching_errors(const std::string& command, std::string& errors) override
    {
        errors.clear();
        if (!plotter_found_) return 127;
        return system_.run_command_catching_errors(in_folder(command), errors);
    }
    LocalTime local_time() override { return system_.local_time(); }
    double clock_seconds() override { return system_.clock_seconds(); }
    void set_window_title(std::string_view) override {}
    std::string editor_command(std::string_view file_name) override { return system_.editor_command(file_name); }
    std::string plot_command(std::string_view script_name) override { return system_.plot_command(script_name); }
    std::string missing_program(std::string_view command) override { return system_.missing_program(command); }
    void warn(std::string_view message) override { warnings.emplace_back(message); }
    std::vector<std::string> warnings;

private:
    std::string in_folder(const std::string& command) const
    {
        return "cd " + quote_for_shell(folder_.string()) + " && " + command;
    }
    SystemPlatform& system_;
    std::filesystem::path folder_;
    bool plotter_found_;
};

std::string folder_name(int number, int total)
{
    const int width = std::max<int>(3, static_cast<int>(std::to_string(total).size()));
    std::string name = std::to_string(number);
    return std::string(static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(name.size()))), '0') + name;
}

// The most tasks a job array gets: Slurm's default MaxArraySize is 1001
// (indices 0 to 1000).
constexpr std::size_t largest_slurm_array = 1000;

// The base input: placatermo.ent of the working folder, or the default
// experiment when it is missing (`missing` then; the study writes it, as a
// run does, once the study is accepted).
std::string base_input(bool& missing)
{
    std::string bytes;
    missing = !read_whole_file(std::string(input_file_name), bytes);
    return missing ? default_input_file() : bytes;
}

// The command line of one run, for the job files.
std::string run_command_line(const StudyOptions& options, const StudyRun& run)
{
    std::string line = "cd " + quote_for_shell(std::filesystem::absolute(run.folder).string()) + " && " +
                       quote_for_shell(options.program.string()) + " --batch --json";
    for (std::size_t v = 0; v < options.variations.size(); ++v)
        if (options.variations[v].record == 0) line += " --multigrid=" + run.values[v];
    return line;
}

// Writes a run's folder with its input: the base file with the varied values.
void write_run_folder(const std::vector<StudyVariation>& variations, const StudyRun& run, const std::string& base,
                      const InputParameters& base_parameters)
{
    std::vector<std::pair<int, std::string>> values;
    for (std::size_t v = 0; v < variations.size(); ++v)
        if (variations[v].record != 0) values.emplace_back(variations[v].record, run.values[v]);
    namespace fs = std::filesystem;
    // the study writes only into folders and files it made: never through a
    // link (into another run's folder, or out of the study), nor into a fifo
    // or a device (whose opening would wait for ever)
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(run.folder, error)))
        throw FatalError("a pasta da execução \"" + run.folder.string() +
                         "\" é um link simbólico: o estudo não grava através dele; remova-o e rode de novo");
    fs::create_directories(run.folder);
    for (const auto& entry : fs::directory_iterator(run.folder)) {
        const fs::file_status kind = entry.symlink_status();
        if (!fs::is_regular_file(kind) && !fs::is_directory(kind))
            throw FatalError("\"" + entry.path().string() +
                             "\" não é um arquivo comum nem uma pasta (um link, um fifo...): o estudo não grava "
                             "através dele; remova-o e rode de novo");
    }
    OutputFile file((run.folder / std::string(input_file_name)).string());
    file.write(replace_records(base, base_parameters, values));
    file.close();
}

// A folder name as Slurm's #SBATCH lines take it without quoting (and
// without its %-patterns).
bool plain_for_slurm(std::string_view name)
{
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '.' ||
               c == '_' || c == '-' || c == '+';
    });
}

// tarefas.txt (one command a line, for sh or GNU parallel) and slurm.sh (a
// job array: each task runs a block of consecutive runs, so that the array
// never has more than `largest_slurm_array` tasks).
void write_job_files(const StudyOptions& options, const std::vector<StudyRun>& runs)
{
    std::string tasks;
    double largest_bytes = 0.0, largest_work = 0.0;
    for (const auto& run : runs) {
        tasks += run_command_line(options, run) + "\n";
        std::string bytes;
        try {
            if (!read_run_input(run.folder / std::string(input_file_name), bytes)) continue;
            const InputParameters input = parse_input_data(bytes);
            largest_bytes = std::max(largest_bytes, required_memory_bytes(input));
            // outer iterations times the volumes of all grids
            largest_work = std::max(largest_work, static_cast<double>(input.max_outer_iterations) *
                                                      static_cast<double>(input.grids.total_volume_count));
        } catch (const FatalError&) {
        }
    }
    const std::string folder = std::filesystem::absolute(options.folder).string();
    // whole or not at all: a job file cut short (a full disk) would stay and
    // never be written again
    write_file_atomically((options.folder / "tarefas.txt").string(), tasks);

    const std::size_t total = std::max<std::size_t>(1, runs.size());
    const std::size_t block = (total + largest_slurm_array - 1) / largest_slurm_array;
    const std::size_t array = (total + block - 1) / block;
    // memory: the arrays, half as much again, and the program itself; time:
    // 100 ns per volume and outer iteration, twice that, at least 10 minutes,
    // for every run of a task's block
    const long mebibytes = static_cast<long>(std::ceil(largest_bytes * 1.5 / 1048576.0)) + 64;
    const long minutes =
        std::max(10L, static_cast<long>(std::ceil(largest_work * 100e-9 * 2.0 * static_cast<double>(block) / 60.0)));
    char limits[160];
    std::snprintf(limits, sizeof limits, "#SBATCH --time=%ld:%02ld:00\n#SBATCH --mem=%ldM\n", minutes / 60,
                  minutes % 60, mebibytes);
    const bool plain = plain_for_slurm(folder);
    std::string script =
        "#!/bin/bash\n"
        "# As execuções do estudo como um vetor de tarefas do Slurm (" +
        std::to_string(runs.size()) + " execuções, " + std::to_string(block) +
        (block == 1 ? " por tarefa" : " seguidas por tarefa") +
        "):\n"
        "#   sbatch " +
        quote_for_shell(folder + "/slurm.sh") +
        "\n"
        "# e, terminadas as tarefas:\n"
        "#   " +
        quote_for_shell(options.program.string()) + " estudo " + quote_for_shell(folder) +
        " --coletar\n"
        "# (ou --continuar, que roda antes as execuções que faltarem)\n"
        "#SBATCH --job-name=placatermo-estudo\n"
        "#SBATCH --array=1-" +
        std::to_string(array) +
        "\n"
        "#SBATCH --ntasks=1\n"
        "#SBATCH --cpus-per-task=1\n" +
        std::string(limits) + (plain ? "#SBATCH --output=" + folder + "/slurm-%A_%a.out\n" : std::string()) +
        "# escolha onde roda:\n"
        "##SBATCH --partition=NOME\n"
        "##SBATCH --account=CONTA\n"
        "set -uo pipefail\n" +
        (plain ? std::string()
               : "exec >>" + quote_for_shell(folder) +
                     "/\"slurm-${SLURM_ARRAY_JOB_ID:-0}_${SLURM_ARRAY_TASK_ID}.out\" 2>&1\n") +
        "bloco=" + std::to_string(block) + "\ntotal=" + std::to_string(runs.size()) +
        "\n"
        "# a tarefa i roda as linhas (i - 1) * bloco + 1 a i * bloco de tarefas.txt, uma depois da outra\n"
        "primeira=$(( (SLURM_ARRAY_TASK_ID - 1) * bloco + 1 ))\n"
        "ultima=$(( SLURM_ARRAY_TASK_ID * bloco ))\n"
        "[ \"$ultima\" -le \"$total\" ] || ultima=$total\n"
        "[ \"$primeira\" -le \"$ultima\" ] || exit 0\n"
        "falhas=0\n"
        "mapfile -t -s $((primeira - 1)) -n $((ultima - primeira + 1)) comandos < " +
        quote_for_shell(folder + "/tarefas.txt") +
        "\n"
        "for comando in \"${comandos[@]}\"; do\n"
        "  (eval \"$comando\") || falhas=1\n"
        "done\n"
        "exit \"$falhas\"\n";
    write_file_atomically((options.folder / "slurm.sh").string(), script);
    std::error_code ignored;
    std::filesystem::permissions(options.folder / "slurm.sh", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add, ignored);
}

std::string seconds_text(double seconds)
{
    char text[32];
    if (seconds < 60.0)
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    else
        std::snprintf(text, sizeof text, "%.0f min %02.0f s", std::floor(seconds / 60.0), std::fmod(seconds, 60.0));
    return text;
}

// The bytes as the code points U+0000 ... U+00FF in UTF-8, and back: the
// base input, in any encoding, kept exactly in the JSON design.
std::string bytes_as_utf8(std::string_view bytes)
{
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}

std::string bytes_from_utf8(std::string_view text)
{
    std::string bytes;
    for (std::size_t k = 0; k < text.size(); ++k) {
        const auto byte = static_cast<unsigned char>(text[k]);
        if (byte < 0x80) {
            bytes += text[k];
        } else if ((byte == 0xC2 || byte == 0xC3) && k + 1 < text.size() &&
                   (static_cast<unsigned char>(text[k + 1]) & 0xC0) == 0x80) {
            bytes += static_cast<char>(((byte & 0x03) << 6) | (static_cast<unsigned char>(text[k + 1]) & 0x3F));
            ++k;
        } else {
            throw FatalError("a entrada base do desenho tem um caractere fora de U+0000 a U+00FF");
        }
    }
    return bytes;
}

// The design file that is written is one that --coletar and --continuar
// read back.
constexpr std::uintmax_t largest_design_bytes = largest_record_bytes;

std::string mebibytes_text(std::uintmax_t bytes) { return std::to_string((bytes + 1048575) >> 20) + " MiB"; }

std::string design_too_large(std::string_view what, std::uintmax_t bytes)
{
    return std::string(what) + " " + mebibytes_text(bytes) + ", mais do que os " +
           mebibytes_text(largest_design_bytes) + " do desenho do estudo (" + std::string(study_design_file) +
           ") que --coletar e --continuar leem: encurte os valores ou divida o estudo em estudos menores";
}

std::string too_many_runs(const std::vector<StudyVariation>& variations)
{
    std::string sizes;
    for (const auto& variation : variations)
        sizes += (sizes.empty() ? "" : " × ") + std::to_string(variation.values.size());
    return "o estudo teria " + sizes + " execuções, mais do que as " + std::to_string(largest_study_runs) +
           " que um estudo pode ter: divida-o em estudos menores";
}

}  // namespace

std::string StudyVariation::name() const
{
    if (record == 0) return "multigrid";
    std::string text = "R";
    text += std::to_string(record);
    return text;
}

std::string StudyVariation::argument() const
{
    std::string list;
    for (const auto& value : values) list += (list.empty() ? "" : ",") + value;
    return record == 0 ? "--multigrid=" + list : "--variar " + std::to_string(record) + "=" + list;
}

std::string_view study_usage_text() { return study_usage; }

StudyOptions parse_study_arguments(int argc, char** argv)
{
    StudyOptions options;
    options.program = std::filesystem::absolute(argv[0]);
    bool folder_given = false;
    const auto take_folder = [&](const std::string& name) {
        if (folder_given)
            refuse("duas pastas de estudo: \"" + shown(options.folder.string()) + "\" e \"" + shown(name) + "\"");
        folder_given = true;
        if (name.empty()) refuse("o nome da pasta do estudo está vazio");
        if (has_control_character(name))
            refuse("o nome da pasta do estudo \"" + shown(name) + "\" tem um caractere de controle: escolha outro");
        options.folder = name;
    };
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            return options;
        } else if (argument == "--") {
            if (i + 1 >= argc) refuse("falta a pasta do estudo depois de --");
            take_folder(argv[++i]);
        } else if (argument == "--variar" && i + 1 < argc) {
            const std::string text = argv[++i];
            const auto equals = text.find('=');
            int record = 0;
            if (equals != std::string::npos && equals > 0 && equals <= 2 &&
                std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(equals),
                            [](char c) { return c >= '0' && c <= '9'; }))
                record = std::stoi(text.substr(0, equals));
            if (record < 4 || record > 15)
                refuse("--variar " + shown(text) + ": o registro vem antes de '=' e é um número de 4 a 15");
            if (equals + 1 >= text.size()) refuse("--variar " + text + ": faltam os valores depois de '='");
            for (const auto& variation : options.variations)
                if (variation.record == record)
                    refuse("o registro " + std::to_string(record) + " é variado duas vezes");
            StudyVariation variation{record, split_values(std::string_view(text).substr(equals + 1))};
            check_values("--variar " + text, variation.values);
            options.variations.push_back(std::move(variation));
        } else if (argument.rfind("--multigrid=", 0) == 0) {
            StudyVariation cycles{0, split_values(std::string_view(argument).substr(12))};
            for (const auto& variation : options.variations)
                if (variation.record == 0) refuse("o ciclo multigrid é variado duas vezes");
            for (const auto& value : cycles.values)
                if (!cycle_from_name(value)) refuse(shown(argument) + ": os ciclos são especificado e classico");
            check_values(argument, cycles.values);
            options.variations.push_back(cycles);
        } else if (argument == "--tarefas" && i + 1 < argc) {
            const std::string text = argv[++i];
            if (text.empty() || text.size() > 4 ||
                !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
                std::stoi(text) < 1)
                refuse("--tarefas " + shown(text) + ": o número de execuções ao mesmo tempo é um inteiro de 1 a 9999");
            options.tasks = static_cast<unsigned>(std::stoi(text));
        } else if (argument == "--preparar") {
            options.prepare = true;
        } else if (argument == "--coletar") {
            options.collect = true;
        } else if (argument == "--continuar") {
            options.resume = true;
        } else if (!argument.empty() && argument[0] == '-') {
            refuse("argumento desconhecido: " + shown(argument) +
                   (options.folder.empty() && argument.rfind("--", 0) != 0
                        ? " (uma pasta cujo nome começa com '-' vem depois de --: -- " + shown(argument) + ")"
                        : std::string()));
        } else {
            take_folder(argument);
        }
    }
    if (!folder_given) refuse("falta a pasta do estudo");
    if (int(options.prepare) + int(options.collect) + int(options.resume) > 1)
        refuse("--preparar, --coletar e --continuar não vão juntos");
    if (options.variations.empty() && !options.collect && !options.resume) refuse("falta ao menos um --variar");
    check_study_size(options.variations);
    return options;
}

std::optional<std::size_t> study_run_count(const std::vector<StudyVariation>& variations)
{
    std::size_t total = 1;
    for (const auto& variation : variations) {
        const std::size_t size = variation.values.size();
        if (size != 0 && total > largest_study_runs / size) return std::nullopt;
        total *= size;
    }
    return total;
}

void check_study_size(const std::vector<StudyVariation>& variations)
{
    const std::optional<std::size_t> total = study_run_count(variations);
    if (!total) throw FatalError(too_many_runs(variations));
    // every run keeps its values in the design: their bytes alone, before
    // the runs are listed
    std::uintmax_t bytes = 0;
    for (const auto& variation : variations) {
        if (variation.values.empty()) continue;
        std::uintmax_t list = 0;
        for (const auto& value : variation.values) list += value.size();
        bytes += list * (*total / variation.values.size());
    }
    if (bytes > largest_design_bytes) throw FatalError(design_too_large("os valores das execuções somariam", bytes));
}

std::vector<StudyRun> study_runs(const StudyOptions& options)
{
    const std::optional<std::size_t> count = study_run_count(options.variations);
    if (!count) throw FatalError(too_many_runs(options.variations));
    const std::size_t total = *count;
    std::vector<StudyRun> runs;
    runs.reserve(total);
    for (std::size_t n = 0; n < total; ++n) {
        StudyRun run;
        run.number = static_cast<int>(n + 1);
        run.folder = options.folder / folder_name(run.number, static_cast<int>(total));
        run.values.resize(options.variations.size());
        std::size_t rest = n;
        for (std::size_t v = options.variations.size(); v-- > 0;) {
            const auto& values = options.variations[v].values;
            run.values[v] = values[rest % values.size()];
            rest /= values.size();
        }
        runs.push_back(std::move(run));
    }
    return runs;
}

bool stays_in_run_folder(std::string_view name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\:") == std::string_view::npos;
}

std::string study_design_json(const StudyDesign& design)
{
    using nlohmann::json;
    json variations = json::array();
    for (const auto& variation : design.variations)
        variations.push_back({{"registro", variation.record}, {"valores", variation.values}});
    json runs = json::array();
    for (const auto& run : design.runs)
        runs.push_back({{"numero", run.number}, {"pasta", run.folder.filename().string()}, {"valores", run.values}});
    const json root = {{"formato", "placatermo-estudo"},
                       {"versao_formato", 1},
                       {"programa", design.program_version},
                       {"entrada_base", bytes_as_utf8(design.base_input)},
                       {"variacoes", variations},
                       {"execucoes", runs}};
    return root.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

StudyDesign parse_study_design(std::string_view text, const std::filesystem::path& folder)
{
    using nlohmann::json;
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    const auto broken = [](const std::string& what) -> FatalError {
        return FatalError("o desenho do estudo está danificado: " + what);
    };
    if (root.is_discarded()) throw broken("não é um texto JSON completo");
    // a whole number: a real number, a larger one or another kind is a field
    // of the wrong type
    const auto whole = [&](const json& value) {
        if (const std::optional<std::int32_t> n = json_int32(value)) return *n;
        throw broken("falta um campo ou um campo tem o tipo errado");
    };
    try {
        if (!root.is_object() || root.value("formato", std::string()) != "placatermo-estudo")
            throw broken("não é o desenho de um estudo do placatermo");
        if (whole(root.at("versao_formato")) != 1) throw broken("versão do formato desconhecida");
        StudyDesign design;
        design.program_version = root.at("programa").get<std::string>();
        design.base_input = bytes_from_utf8(root.at("entrada_base").get<std::string>());
        StudyOptions options;
        options.folder = folder;
        for (const json& variation : root.at("variacoes")) {
            StudyVariation v{whole(variation.at("registro")), variation.at("valores").get<std::vector<std::string>>()};
            if ((v.record != 0 && (v.record < 4 || v.record > 15)) || v.values.empty() || v.values.size() > 1000000)
                throw broken("uma variação não tem registro de 4 a 15 ou não tem valores");
            check_values(v.argument(), v.values);
            if (v.record == 0)
                for (const auto& value : v.values)
                    if (!cycle_from_name(value)) throw broken("ciclo desconhecido " + value);
            options.variations.push_back(std::move(v));
        }
        if (options.variations.empty()) throw broken("não há variações");
        if (!study_run_count(options.variations)) throw broken("execuções demais");
        design.variations = options.variations;
        design.runs = study_runs(options);
        // the list kept must be the one the variations give
        const json& runs = root.at("execucoes");
        if (!runs.is_array() || runs.size() != design.runs.size()) throw broken("a lista de execuções não confere");
        for (std::size_t n = 0; n < runs.size(); ++n)
            if (whole(runs[n].at("numero")) != design.runs[n].number ||
                runs[n].at("pasta").get<std::string>() != design.runs[n].folder.filename().string() ||
                runs[n].at("valores").get<std::vector<std::string>>() != design.runs[n].values)
                throw broken("a execução " + std::to_string(n + 1) + " não confere com as variações");
        return design;
    } catch (const nlohmann::json::exception&) {
        throw broken("falta um campo ou um campo tem o tipo errado");
    }
}

std::string design_difference(const std::vector<StudyVariation>& given, const std::vector<StudyVariation>& design)
{
    if (given == design) return {};
    std::string kept;
    for (const auto& variation : design) {
        if (!kept.empty()) kept += ' ';
        kept += variation.argument();
    }
    std::string what;
    for (std::size_t k = 0; k < std::max(given.size(), design.size()); ++k) {
        if (k >= given.size()) {
            what = "falta " + design[k].argument() + " na linha de comando";
        } else if (k >= design.size()) {
            what = given[k].argument() + " não faz parte do estudo";
        } else if (!(given[k] == design[k])) {
            what = "a linha de comando tem " + given[k].argument() + " onde o estudo tem " + design[k].argument();
        } else {
            continue;
        }
        break;
    }
    return "as listas diferem das do estudo gravado: " + what + " (o estudo: " + kept +
           "; sem as listas vale o estudo gravado)";
}

namespace {

// The bytes the input of a run has in its folder, made from the design.
std::string run_input_bytes(const StudyDesign& design, const InputParameters& base_parameters, const StudyRun& run)
{
    std::vector<std::pair<int, std::string>> values;
    for (std::size_t v = 0; v < design.variations.size(); ++v)
        if (design.variations[v].record != 0) values.emplace_back(design.variations[v].record, run.values[v]);
    return replace_records(design.base_input, base_parameters, values);
}

// Whether a run's folder holds its complete result: the input the design
// gives, and a complete record computed from that input with the run's cycle.
bool run_is_complete(const std::string& expected_input, const std::vector<StudyVariation>& variations,
                     const StudyRun& run)
{
    try {
        const StudyRow row = read_study_row(run, &expected_input);
        if (row.status != "ok") return false;
        for (std::size_t v = 0; v < variations.size(); ++v)
            if (variations[v].record == 0 && row.cycle != run.values[v]) return false;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// The design of the study in `folder`, or a FatalError saying why not.
StudyDesign read_design(const std::filesystem::path& folder)
{
    const auto name = folder / std::string(study_design_file);
    std::error_code error;
    const auto size = std::filesystem::file_size(name, error);
    if (error)
        throw FatalError("a pasta \"" + folder.string() + "\" não tem o desenho de um estudo (" +
                         std::string(study_design_file) + "): " + system_error_text(error));
    if (size > largest_design_bytes) throw FatalError("o desenho do estudo \"" + name.string() + "\" é grande demais");
    std::string text;
    read_whole_file(name.string(), text);
    try {
        return parse_study_design(text, folder);
    } catch (const FatalError& failure) {
        throw FatalError(std::string(failure.what()) + " (" + name.string() + ")");
    }
}

int run_study_checked(StudyOptions options, SystemPlatform& platform, bool (*stop_requested)())
{
    namespace fs = std::filesystem;
    if (options.help) {
        std::printf("%s\n%s", study_usage.data(), study_help.data());
        return 0;
    }
    const bool fresh = !options.collect && !options.resume;
    std::error_code error;
    const auto link = fs::symlink_status(options.folder, error);
    if (fs::is_symlink(link) && !fs::exists(options.folder, error))
        throw FatalError("\"" + options.folder.string() + "\" é um link simbólico para algo que não existe");
    if (fs::exists(options.folder, error) && !fs::is_directory(options.folder, error))
        throw FatalError("\"" + options.folder.string() + "\" existe e não é uma pasta");
    if (!fresh && !fs::is_directory(options.folder, error))
        throw FatalError("a pasta do estudo \"" + options.folder.string() + "\" não existe");

    // a new study's design, sized before anything is made: one that
    // --coletar and --continuar could not read back is refused
    StudyDesign design;
    std::string design_text;
    bool input_missing = false;
    if (fresh) {
        design.program_version = PLACATERMO_VERSION;
        design.base_input = base_input(input_missing);
        design.variations = options.variations;
        design.runs = study_runs(options);
        design_text = study_design_json(design);
        if (design_text.size() > largest_design_bytes)
            throw FatalError(design_too_large("o desenho do estudo teria", design_text.size()));
    }

    // a refused study takes back what it made: the lock file and the folder
    // (never the user's: `estudo ..` or `estudo /` leave nothing behind)
    std::vector<fs::path> folders_made;  // the deepest first
    if (fresh) {
        for (fs::path folder = options.folder; !folder.empty() && !fs::exists(fs::symlink_status(folder, error));
             folder = folder.parent_path())
            folders_made.push_back(folder);
    }
    std::unique_ptr<StudyFolderLock> claim;
    try {
        if (fresh) fs::create_directories(options.folder);
        // one study at a time in a folder, for as long as it works there
        claim = StudyFolderLock::try_claim(options.folder / std::string(study_lock_file));
        if (!claim)
            throw FatalError("a pasta \"" + options.folder.string() +
                             "\" está em uso por outro estudo (rodando agora): espere que ele termine ou escolha "
                             "outra pasta");
        if (fresh) {
            for (const auto& entry : fs::directory_iterator(options.folder))
                if (entry.path().filename() != std::string(study_lock_file))
                    throw FatalError("a pasta \"" + options.folder.string() +
                                     "\" já tem arquivos: escolha outra pasta, ou use --continuar para completar o "
                                     "estudo que ela tem, ou --coletar para montar a tabela das execuções que ela "
                                     "tem");
            if (input_missing) {
                OutputFile file{std::string(input_file_name)};
                file.write(design.base_input);
                file.close();
            }
            // refused before anything is written into the folder
            parse_input_data(design.base_input);
            write_file_atomically((options.folder / std::string(study_design_file)).string(), design_text);
        } else {
            design = read_design(options.folder);
            if (!options.variations.empty()) {
                const std::string difference = design_difference(options.variations, design.variations);
                if (!difference.empty()) throw FatalError(difference);
            }
            options.variations = design.variations;
        }
    } catch (...) {
        std::error_code ignored;
        if (claim && claim->made_the_file()) fs::remove(options.folder / std::string(study_lock_file), ignored);
        claim.reset();
        for (const auto& folder : folders_made) fs::remove(folder, ignored);  // only while empty
        throw;
    }
    const std::vector<StudyRun>& runs = design.runs;
    const InputParameters base_parameters = parse_input_data(design.base_input, "estudo.json (entrada base)");
    // the results and summary names come from the base: a name that leaves
    // the run's folder would make the runs share one file
    std::string escaping;
    for (const auto* name : {&base_parameters.experiment_name, &base_parameters.discretization_file_name})
        if (!stays_in_run_folder(name->trimmed()))
            escaping = "o arquivo \"" + cp1252_to_utf8(name->trimmed()) +
                       "\" da entrada sairia da pasta da execução (registros 1 e 2 são só nomes de arquivo, sem "
                       "pasta)";

    if (options.prepare) {
        if (!escaping.empty()) throw FatalError(escaping);
        for (std::size_t n = 0; n < runs.size(); ++n) {
            // Ctrl-C: the folders made stay, without job files that would
            // name the others
            if (stop_requested()) {
                std::fprintf(stderr,
                             "estudo: interrompido: %zu de %zu execuções preparadas em %s, sem tarefas.txt e "
                             "slurm.sh (--continuar roda o estudo nesta máquina)\n",
                             n, runs.size(), options.folder.string().c_str());
                return 1;
            }
            write_run_folder(options.variations, runs[n], design.base_input, base_parameters);
        }
        write_job_files(options, runs);
        std::fprintf(stderr, "estudo: %zu execuções preparadas em %s (tarefas.txt, slurm.sh)\n", runs.size(),
                     options.folder.string().c_str());
        return 0;
    }

    std::map<int, std::string> failures;                          // run number -> message
    std::vector<std::optional<StudyRow>> rows_read(runs.size());  // by the workers, right after each run
    if (!options.collect) {
        // the runs to do: all of a new study; those without a complete result
        // when continuing (the others are not touched)
        std::vector<std::size_t> todo;
        for (std::size_t n = 0; n < runs.size(); ++n)
            if (fresh ||
                !run_is_complete(run_input_bytes(design, base_parameters, runs[n]), options.variations, runs[n]))
                todo.push_back(n);
        if (options.resume) std::fprintf(stderr, "estudo: %zu de %zu execuções a rodar\n", todo.size(), runs.size());
        // The runs share the cores: the solvers stay on one thread each.
        const Execution execution = start_execution(ExecutionThreads::one);
        const unsigned workers = std::max(
            1u,
            std::min<unsigned>(options.tasks != 0 ? options.tasks : std::max(1u, std::thread::hardware_concurrency()),
                               static_cast<unsigned>(std::max<std::size_t>(1, todo.size()))));
        std::mutex lock;
        std::size_t next = 0, done = 0;
        const auto start = std::chrono::steady_clock::now();
        std::map<int, std::chrono::steady_clock::time_point> running;
        const bool terminal = stderr_is_terminal();
        const bool plotter_found = program_on_path(plotting_program);
        const auto elapsed = [&](std::chrono::steady_clock::time_point since) {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
        };
        // one line, rewritten on a terminal; a line a finished run otherwise
        const auto progress = [&](const StudyRun& finished, const std::string& outcome, double seconds) {
            if (terminal) {
                std::string slowest;
                double longest = -1.0;
                for (const auto& [number, since] : running)
                    if (elapsed(since) > longest)
                        longest = elapsed(since), slowest = folder_name(number, static_cast<int>(runs.size()));
                const double per_run = elapsed(start) / static_cast<double>(done);
                const double left = per_run * static_cast<double>(todo.size() - done);
                std::fprintf(
                    stderr, "\r\033[Kestudo: %zu de %zu concluídas%s, restam ~%s", done, todo.size(),
                    slowest.empty() ? "" : (", a mais lenta " + slowest + " (" + seconds_text(longest) + ")").c_str(),
                    seconds_text(left).c_str());
                if (done == todo.size()) std::fputc('\n', stderr);
            } else {
                std::fprintf(stderr, "estudo: %s %s em %s (%zu de %zu)\n", finished.folder.filename().string().c_str(),
                             outcome.c_str(), seconds_text(seconds).c_str(), done, todo.size());
            }
            std::fflush(stderr);
        };
        // one run, start to end; whatever goes wrong becomes its outcome
        const auto run_one = [&](const StudyRun& study_run, FolderPlatform& folder_platform) -> std::string {
            try {
                if (!escaping.empty()) throw FatalError(escaping);
                write_run_folder(options.variations, study_run, design.base_input, base_parameters);
                RunContext run(folder_platform);
                run.folder = study_run.folder;
                run.options.batch = true;
                run.options.record = true;
                run.execution = execution;
                // a missing plotting program is said once, for the whole study
                run.state.plotter_warned = !plotter_found;
                for (std::size_t v = 0; v < options.variations.size(); ++v)
                    if (options.variations[v].record == 0) run.options.cycle = cycle_from_name(study_run.values[v]);
                run.stop_requested = stop_requested;
                run_program(run);
                return {};
            } catch (const FatalError& failure) {
                return failure.what();
            } catch (const fs::filesystem_error& failure) {
                return file_system_message(failure);
            } catch (const std::bad_alloc&) {
                return "memória insuficiente";
            } catch (const std::exception& failure) {
                return std::string("erro interno: ") + failure.what();
            }
        };
        const auto work = [&] {
            for (;;) {
                std::size_t index;
                {
                    std::lock_guard guard(lock);
                    if (next >= todo.size() || stop_requested()) return;
                    index = todo[next++];
                    running[runs[index].number] = std::chrono::steady_clock::now();
                }
                const StudyRun& study_run = runs[index];
                FolderPlatform folder_platform(platform, study_run.folder, plotter_found);
                const auto begun = std::chrono::steady_clock::now();
                const std::string failure = run_one(study_run, folder_platform);
                const std::string expected = run_input_bytes(design, base_parameters, study_run);
                rows_read[index] = read_study_row(study_run, &expected);
                std::lock_guard guard(lock);
                running.erase(study_run.number);
                ++done;
                if (!failure.empty()) failures[study_run.number] = failure;
                for (const auto& warning : folder_platform.warnings)
                    std::fprintf(stderr, "%s%s: %s\n", terminal ? "\r\033[K" : "",
                                 study_run.folder.filename().string().c_str(), warning.c_str());
                progress(study_run, failure.empty() ? "concluída" : "falhou: " + failure, elapsed(begun));
            }
        };
        std::vector<std::thread> threads;
        for (unsigned w = 1; w < workers; ++w) {
            try {
                threads.emplace_back(work);
            } catch (const std::system_error&) {
                break;  // fewer threads: the others do the work
            }
        }
        work();
        for (auto& thread : threads) thread.join();
        // the job files name every run's folder: after a stop, the runs left
        // out get none (a large study would take minutes to make them), and
        // --continuar writes the job files
        if (!stop_requested() &&
            (fresh || !fs::exists(options.folder / "tarefas.txt") || !fs::exists(options.folder / "slurm.sh"))) {
            try {
                bool every_folder = true;
                for (const auto& run : runs) {  // a run refused before its folder was made gets it too
                    if (stop_requested()) {
                        every_folder = false;
                        break;
                    }
                    if (!fs::exists(run.folder))
                        write_run_folder(options.variations, run, design.base_input, base_parameters);
                }
                if (every_folder) write_job_files(options, runs);
            } catch (const FatalError& failure) {
                std::fprintf(stderr, "estudo: aviso: %s\n", failure.what());
            } catch (const fs::filesystem_error& failure) {
                std::fprintf(stderr, "estudo: aviso: %s\n", file_system_message(failure).c_str());
            }
        }
    }

    std::vector<StudyRow> rows;
    std::vector<std::string> missing;
    for (std::size_t n = 0; n < runs.size(); ++n) {
        const StudyRun& run = runs[n];
        const std::string expected = rows_read[n] ? std::string() : run_input_bytes(design, base_parameters, run);
        StudyRow row = rows_read[n] ? std::move(*rows_read[n]) : read_study_row(run, &expected);
        if (const auto failure = failures.find(run.number); failure != failures.end()) row.status = failure->second;
        if (row.status != "ok") missing.push_back(run.folder.filename().string());
        rows.push_back(std::move(row));
    }
    observed_orders(options.variations, rows);
    const StudyTableOutcome written = write_study_table(options, rows, platform);
    if (!missing.empty()) {
        std::string list;
        for (const auto& name : missing) list += (list.empty() ? "" : ", ") + name;
        std::fprintf(stderr, "estudo: %zu de %zu execuções sem resultados completos: %s\n", missing.size(), runs.size(),
                     list.c_str());
    }
    if (!written.table) return 1;
    std::fprintf(stderr, "estudo: tabela em %s\n", (options.folder / "estudo.csv").string().c_str());
    if (!written.pictures && missing.empty())
        std::fprintf(stderr, "estudo: a tabela está completa (%s), mas faltam gráficos\n",
                     runs.size() == 1 ? "a execução terminou"
                                      : ("as " + std::to_string(runs.size()) + " execuções terminaram").c_str());
    return missing.empty() && written.pictures ? 0 : 1;
}

}  // namespace

int run_study(const StudyOptions& options, SystemPlatform& platform, bool (*stop_requested)())
{
    // the standard library's own texts never reach the user
    try {
        return run_study_checked(options, platform, stop_requested);
    } catch (const std::filesystem::filesystem_error& error) {
        throw FatalError(file_system_message(error));
    } catch (const std::bad_alloc&) {
        throw FatalError("memória insuficiente");
    } catch (const FatalError&) {
        throw;
    } catch (const std::exception& error) {
        throw FatalError(std::string("erro interno: ") + error.what());
    }
}

}  // namespace placatermo
