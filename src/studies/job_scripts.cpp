// The job files of a study: tarefas.txt and slurm.sh, for a cluster or
// another machine.
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

namespace {

// The most tasks a job array gets: Slurm's default MaxArraySize is 1001
// (indices 0 to 1000).
constexpr std::size_t largest_slurm_array = 1000;

// The command line of one run, for the job files.
std::string run_command_line(const StudyOptions& options, const StudyRun& run)
{
    std::string line = "cd " + quote_for_shell(std::filesystem::absolute(run.folder).string()) + " && " +
                       quote_for_shell(options.program.string()) + " --batch --json";
    for (std::size_t v = 0; v < options.variations.size(); ++v)
        if (options.variations[v].record == 0) line += " --multigrid=" + run.values[v];
    return line;
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

// slurm.sh: a job array whose task i runs lines (i - 1) * bloco + 1 to
// i * bloco of tarefas.txt, one after the other; {name} is filled in.
constexpr std::string_view slurm_template =
    "#!/bin/bash\n"
    "# As execuções do estudo como um vetor de tarefas do Slurm ({runs} execuções, {block}):\n"
    "#   sbatch {script}\n"
    "# e, terminadas as tarefas:\n"
    "#   {program} estudo {folder} --coletar\n"
    "# (ou --continuar, que roda antes as execuções que faltarem)\n"
    "#SBATCH --job-name=placatermo-estudo\n"
    "#SBATCH --array=1-{array}\n"
    "#SBATCH --ntasks=1\n"
    "#SBATCH --cpus-per-task=1\n"
    "#SBATCH --time={time}\n"
    "#SBATCH --mem={memory}\n"
    "{output}"
    "# escolha onde roda:\n"
    "##SBATCH --partition=NOME\n"
    "##SBATCH --account=CONTA\n"
    "set -uo pipefail\n"
    "{redirection}"
    "bloco={block_size}\n"
    "total={runs}\n"
    "# a tarefa i roda as linhas (i - 1) * bloco + 1 a i * bloco de tarefas.txt, uma depois da outra\n"
    "primeira=$(( (SLURM_ARRAY_TASK_ID - 1) * bloco + 1 ))\n"
    "ultima=$(( SLURM_ARRAY_TASK_ID * bloco ))\n"
    "[ \"$ultima\" -le \"$total\" ] || ultima=$total\n"
    "[ \"$primeira\" -le \"$ultima\" ] || exit 0\n"
    "falhas=0\n"
    "mapfile -t -s $((primeira - 1)) -n $((ultima - primeira + 1)) comandos < {tasks}\n"
    "for comando in \"${comandos[@]}\"; do\n"
    "  (eval \"$comando\") || falhas=1\n"
    "done\n"
    "exit \"$falhas\"\n";

// `text` with each {name} of `values` replaced by its value.
std::string filled(std::string_view text, std::initializer_list<std::pair<std::string_view, std::string>> values)
{
    std::string out;
    for (std::size_t at = 0; at < text.size();) {
        const auto open = text.find('{', at), close = text.find('}', open);
        const auto value = std::find_if(values.begin(), values.end(), [&](const auto& named) {
            return open != std::string_view::npos && close != std::string_view::npos &&
                   named.first == text.substr(open + 1, close - open - 1);
        });
        if (value == values.end()) {
            // not a name: the brace stays (as in ${comandos[@]})
            const auto end = open == std::string_view::npos ? text.size() : open + 1;
            out.append(text.substr(at, end - at));
            at = end;
            continue;
        }
        out.append(text.substr(at, open - at)).append(value->second);
        at = close + 1;
    }
    return out;
}

// The most any run of the study needs, from the inputs of its folders.
struct LargestRun {
    double bytes = 0.0;  // its arrays
    double work = 0.0;   // outer iterations times the volumes of all grids
};

LargestRun largest_run(const std::vector<StudyRun>& runs)
{
    LargestRun largest;
    for (const auto& run : runs) {
        std::string bytes;
        try {
            if (!read_run_input(run.folder / std::string(input_file_name), bytes)) continue;
            const InputParameters input = parse_input_data(bytes);
            largest.bytes = std::max(largest.bytes, required_memory_bytes(input));
            largest.work = std::max(largest.work, static_cast<double>(input.max_outer_iterations) *
                                                      static_cast<double>(input.grids.total_volume_count));
        } catch (const FatalError&) {
        }
    }
    return largest;
}

// The job array: each task runs a block of consecutive runs, so that the
// array never has more than `largest_slurm_array` tasks.
std::string slurm_script(const StudyOptions& options, std::size_t run_count, const LargestRun& largest)
{
    const std::string folder = std::filesystem::absolute(options.folder).string();
    const std::size_t total = std::max<std::size_t>(1, run_count);
    const std::size_t block = (total + largest_slurm_array - 1) / largest_slurm_array;
    const std::size_t array = (total + block - 1) / block;
    // memory: the arrays, half as much again, and the program itself; time:
    // 100 ns per volume and outer iteration, twice that, at least 10 minutes,
    // for every run of a task's block
    const long mebibytes = static_cast<long>(std::ceil(largest.bytes * 1.5 / 1048576.0)) + 64;
    const long minutes =
        std::max(10L, static_cast<long>(std::ceil(largest.work * 100e-9 * 2.0 * static_cast<double>(block) / 60.0)));
    char time[64];
    std::snprintf(time, sizeof time, "%ld:%02ld:00", minutes / 60, minutes % 60);
    const bool plain = plain_for_slurm(folder);
    return filled(slurm_template,
                  {{"runs", std::to_string(run_count)},
                   {"block", std::to_string(block) + (block == 1 ? " por tarefa" : " seguidas por tarefa")},
                   {"script", quote_for_shell(folder + "/slurm.sh")},
                   {"program", quote_for_shell(options.program.string())},
                   {"folder", quote_for_shell(folder)},
                   {"array", std::to_string(array)},
                   {"time", time},
                   {"memory", std::to_string(mebibytes) + "M"},
                   {"output", plain ? "#SBATCH --output=" + folder + "/slurm-%A_%a.out\n" : std::string()},
                   {"redirection", plain ? std::string()
                                         : "exec >>" + quote_for_shell(folder) +
                                               "/\"slurm-${SLURM_ARRAY_JOB_ID:-0}_${SLURM_ARRAY_TASK_ID}.out\" 2>&1\n"},
                   {"block_size", std::to_string(block)},
                   {"tasks", quote_for_shell(folder + "/tarefas.txt")}});
}

}  // namespace

namespace study_parts {

// tarefas.txt (one command a line, for sh or GNU parallel) and slurm.sh
void write_job_files(const StudyOptions& options, const std::vector<StudyRun>& runs)
{
    std::string tasks;
    for (const auto& run : runs) tasks += run_command_line(options, run) + "\n";
    // whole or not at all: a job file cut short (a full disk) would stay and
    // never be written again
    write_file_atomically((options.folder / "tarefas.txt").string(), tasks);
    write_file_atomically((options.folder / "slurm.sh").string(),
                          slurm_script(options, runs.size(), largest_run(runs)));
    std::error_code ignored;
    std::filesystem::permissions(options.folder / "slurm.sh", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add, ignored);
}

}  // namespace study_parts

}  // namespace placatermo
