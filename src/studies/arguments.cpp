// The study's command line: its options, checked, and its usage.
#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <unordered_set>

#include "base/command_options.hpp"
#include "base/errors.hpp"
#include "experiment/settings.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

namespace {

constexpr std::string_view study_usage =
    "uso: placatermo estudo PASTA --variar R=V1,V2,... [--variar ...] [--multigrid=C1,C2]\n"
    "                       [--tarefas N] [--preparar]\n"
    "     placatermo estudo PASTA --continuar [--tarefas N] [as mesmas listas]\n"
    "     placatermo estudo PASTA --coletar [as mesmas listas]";

[[noreturn]] void refuse(const std::string& what) { throw FatalError(what + "\n" + std::string(study_usage)); }

bool has_control_character(std::string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
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

// What the study's command line has given so far.
struct StudyCommandLine {
    StudyOptions options;
    bool folder_given = false;
    bool folder_follows = false;  // after --

    void take_folder(const std::string& name)
    {
        if (folder_given)
            refuse("duas pastas de estudo: \"" + shown(options.folder.string()) + "\" e \"" + shown(name) + "\"");
        folder_given = true;
        if (name.empty()) refuse("o nome da pasta do estudo está vazio");
        if (has_control_character(name))
            refuse("o nome da pasta do estudo \"" + shown(name) + "\" tem um caractere de controle: escolha outro");
        options.folder = name;
    }
};

bool take_variation(StudyCommandLine& line, std::string_view given)
{
    const std::string text(given);
    const auto equals = text.find('=');
    const std::string_view name = std::string_view(text).substr(0, equals);
    const bool numeric = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
    int record = 0;
    if (equals != std::string::npos && (!numeric || name.size() <= 2))
        record = input_record_named(name).value_or(0);
    if (record < 4 || record > 15) {
        std::string names;
        for (const auto& [number, name] : input_record_names())
            if (number >= 4 && number <= 15) names += (names.empty() ? "" : ", ") + std::string(name);
        refuse("--variar " + shown(text) + ": o registro vem antes de '=' e é um número de 4 a 15" +
               (numeric ? "" : " ou um nome (" + names + ")"));
    }
    if (equals + 1 >= text.size()) refuse("--variar " + text + ": faltam os valores depois de '='");
    for (const auto& variation : line.options.variations)
        if (variation.record == record) refuse("o registro " + std::to_string(record) + " é variado duas vezes");
    StudyVariation variation{record, split_values(std::string_view(text).substr(equals + 1))};
    check_values("--variar " + text, variation.values);
    // a misspelt name is refused here, as by --definir, not in every run of
    // the study that has it
    for (const auto& value : variation.values) {
        try {
            input_setting(std::to_string(record) + "=" + value, "--variar " + text);
        } catch (const FatalError& error) {
            refuse(error.what());
        }
    }
    // the names of the solvers and boundary conditions are taken as their
    // numbers: the folders, the design and the table know only numbers
    for (auto& value : variation.values) value = input_value_text(record, value);
    check_values("--variar " + text, variation.values);
    line.options.variations.push_back(std::move(variation));
    return true;
}

bool take_cycles(StudyCommandLine& line, std::string_view list)
{
    const std::string argument = "--multigrid=" + std::string(list);
    StudyVariation cycles{0, split_values(list)};
    for (const auto& variation : line.options.variations)
        if (variation.record == 0) refuse("o ciclo multigrid é variado duas vezes");
    for (const auto& value : cycles.values)
        if (!cycle_from_name(value)) refuse(shown(argument) + ": os ciclos são especificado, classico e rapido");
    check_values(argument, cycles.values);
    line.options.variations.push_back(cycles);
    return true;
}

bool take_tasks(StudyCommandLine& line, std::string_view given)
{
    const std::string text(given);
    if (text.empty() || text.size() > 4 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) || std::stoi(text) < 1)
        refuse("--tarefas " + shown(text) + ": o número de execuções ao mesmo tempo é um inteiro de 1 a 9999");
    line.options.tasks = static_cast<unsigned>(std::stoi(text));
    return true;
}

using Option = CommandOption<StudyCommandLine>;
using enum OptionValue;
using enum OptionPlace;

// The study's options; the usage lines above name them in the ways they go
// together.
constexpr std::array<Option, 8> study_options = {{
    {"--variar",
     next,
     optional,
     {},
     "--variar R=V1,V2,...",
     "os valores do registro R (4 a 15) da entrada; um só valor fixa\n"
     "o registro em todas as execuções",
     take_variation},
    {"--multigrid=",
     joined,
     optional,
     {},
     "--multigrid=C1,C2",
     "os ciclos multigrid (especificado, classico, rapido)",
     take_cycles},
    {"--tarefas",
     next,
     optional,
     {},
     "--tarefas N",
     "execuções ao mesmo tempo (padrão: o número de núcleos)",
     take_tasks},
    {"--preparar",
     none,
     optional,
     {},
     "--preparar",
     "só grava as pastas e os arquivos tarefas.txt e slurm.sh",
     [](StudyCommandLine& line, std::string_view) { return line.options.prepare = true; }},
    {"--continuar",
     none,
     optional,
     {},
     "--continuar",
     "roda só as execuções sem resultado completo (interrompidas,\n"
     "que falharam ou que não começaram) e monta a tabela",
     [](StudyCommandLine& line, std::string_view) { return line.options.resume = true; }},
    {"--coletar",
     none,
     optional,
     {},
     "--coletar",
     "só monta a tabela com os registros das execuções",
     [](StudyCommandLine& line, std::string_view) { return line.options.collect = true; }},
    {"--",
     none,
     optional,
     {},
     "--",
     "o que vem depois é a pasta (para um nome que começa com '-')",
     [](StudyCommandLine& line, std::string_view) { return line.folder_follows = true; }},
    {"--help",
     none,
     instead,
     {},
     {},
     {},
     [](StudyCommandLine& line, std::string_view) { return line.options.help = true; },
     "-h"},
}};

std::string help_text()
{
    return "\n"
           "Roda o arquivo placatermo.ent do diretório atual (a entrada base) com alguns valores\n"
           "variados, cada execução numa pasta PASTA/001, PASTA/002, ..., e monta a tabela\n"
           "PASTA/estudo.csv (e estudo.md) com os resultados de todas, e os gráficos com o\n"
           "script que os desenha (PASTA/estudo.gnu: `gnuplot estudo.gnu` na pasta os refaz).\n"
           "\n" +
           option_list(std::span<const Option>(study_options), 20) +
           "\n"
           "O desenho do estudo (entrada base, listas, execuções) fica em PASTA/estudo.json;\n"
           "--continuar e --coletar o leem e recusam listas diferentes. Cada execução grava o\n"
           "registro <resultados>.json (como --json). Um estudo por pasta: um segundo estudo na\n"
           "mesma pasta é recusado enquanto o primeiro trabalha.\n";
}

}  // namespace

namespace study_parts {

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

const std::string& study_help_text()
{
    static const std::string text = help_text();
    return text;
}

}  // namespace study_parts

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

std::vector<std::string_view> study_option_names()
{
    std::vector<std::string_view> names;
    for (const auto& option : study_options) names.push_back(option.name);
    return names;
}

StudyOptions parse_study_arguments(int argc, char** argv)
{
    StudyCommandLine line;
    StudyOptions& options = line.options;
    options.program = std::filesystem::absolute(argv[0]);
    for (int i = 2; i < argc; ++i) {
        const std::string argument = argv[i];
        if (take_option(std::span<const Option>(study_options), argc, argv, i, line)) {
            if (options.help) return options;
            if (!line.folder_follows) continue;
            if (i + 1 >= argc) refuse("falta a pasta do estudo depois de --");
            line.folder_follows = false;
            line.take_folder(argv[++i]);
        } else if (!argument.empty() && argument[0] == '-') {
            refuse("argumento desconhecido: " + shown(argument) +
                   (options.folder.empty() && argument.rfind("--", 0) != 0
                        ? " (uma pasta cujo nome começa com '-' vem depois de --: -- " + shown(argument) + ")"
                        : std::string()));
        } else {
            line.take_folder(argument);
        }
    }
    if (!line.folder_given) refuse("falta a pasta do estudo");
    if (int(options.prepare) + int(options.collect) + int(options.resume) > 1)
        refuse("--preparar, --coletar e --continuar não vão juntos");
    if (options.variations.empty() && !options.collect && !options.resume) refuse("falta ao menos um --variar");
    check_study_size(options.variations);
    return options;
}

}  // namespace placatermo
