#include "experiment/settings.hpp"

#include <algorithm>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "grid/plate.hpp"
#include "results/record.hpp"
#include "solvers/solver_kind.hpp"

namespace placatermo {

namespace {

bool is_text_record(int record) { return record <= 3 || record == 16; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_ignoring_case(std::string_view a, std::string_view b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

// The solvers' names as a command line gives them: "gauss-seidel".
std::string solver_value_name(SolverKind kind)
{
    std::string name(solver_name(kind));
    std::transform(name.begin(), name.end(), name.begin(), lower);
    return name;
}

[[noreturn]] void refuse(std::string_view argument, const std::string& why)
{
    throw FatalError(std::string(argument) + ": " + why);
}

std::string listed_names()
{
    std::string list;
    for (const auto& [record, name] : input_record_names()) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

}  // namespace

std::vector<std::pair<int, std::string_view>> input_record_names()
{
    std::vector<std::pair<int, std::string_view>> names;
    RunRecord fields;
    for_each_record_field(fields, [&](const RecordField& field, auto&& value) {
        if (field.input_record != 0) names.emplace_back(field.input_record, field.key);
        if constexpr (requires { value.nx; }) {
            names.emplace_back(7, value.nx_key);
            names.emplace_back(8, value.ny_key);
        }
    });
    std::stable_sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return names;
}

std::optional<int> input_record_named(std::string_view name)
{
    if (!name.empty() && name.size() <= 2 && std::all_of(name.begin(), name.end(), [](char c) {
            return c >= '0' && c <= '9';
        })) {
        const int record = std::stoi(std::string(name));
        if (record >= 1 && record <= 16) return record;
        return std::nullopt;
    }
    for (const auto& [record, key] : input_record_names())
        if (key == name) return record;
    return std::nullopt;
}

std::vector<std::pair<std::string_view, int>> input_value_names(int record)
{
    static const std::vector<std::pair<std::string, int>> solvers = [] {
        std::vector<std::pair<std::string, int>> names;
        for (const SolverKind kind : all_solver_kinds) names.emplace_back(solver_value_name(kind), static_cast<int>(kind));
        return names;
    }();
    static const std::vector<std::pair<std::string, int>> boundaries = {
        {std::string(boundary_name(BoundaryKind::linear)), 1}, {std::string(boundary_name(BoundaryKind::sinusoidal)), 2}};
    // the names point into the lists above, which live as long as the program
    std::vector<std::pair<std::string_view, int>> names;
    const auto* list = record == 11 ? &solvers : record == 15 ? &boundaries : nullptr;
    if (list != nullptr)
        for (const auto& [name, number] : *list) names.emplace_back(name, number);
    return names;
}

std::string input_value_text(int record, std::string_view value)
{
    for (const auto& [name, number] : input_value_names(record))
        if (same_ignoring_case(name, value)) return std::to_string(number);
    // the file's bytes, so that the reader's message shows what was given
    if (!is_text_record(record)) return to_cp1252(value);
    std::string quoted = "'";
    for (const char c : to_cp1252(value)) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted + "'";
}

std::pair<int, std::string> input_setting(std::string_view text, std::string_view argument)
{
    const auto equals = text.find('=');
    const std::optional<int> record =
        equals == std::string_view::npos ? std::nullopt : input_record_named(text.substr(0, equals));
    if (!record)
        refuse(argument, "o registro vem antes de '=': um número de 1 a 16 ou um nome (" + listed_names() + ")");
    const std::string_view value = text.substr(equals + 1);
    // an empty title is a title; any other value is missing
    if (value.empty() && *record != 16) refuse(argument, "falta o valor depois de '='");
    // the files a run writes stay in its folder
    if ((*record == 1 || *record == 2) && value.find_first_of("/\\") != std::string_view::npos)
        refuse(argument, "o nome do arquivo é só um nome, sem pasta (o arquivo fica na pasta da execução)");
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) refuse(argument, "o valor tem um caractere de controle");
        if (!is_text_record(*record) && (c == ' ' || c == ',' || c == '/' || c == '\'' || c == '"'))
            refuse(argument, std::string("o valor é um só, sem ") +
                                 (c == ',' ? "vírgula (o separador decimal é o ponto)"
                                           : c == ' ' ? "brancos" : c == '/' ? "barra" : "aspas"));
    }
    // one that would come out as '?' in the file: the run would go on with
    // another title or file name than the one given
    if (cp1252_to_utf8(to_cp1252(value)) != value)
        refuse(argument, "o valor tem um caractere que o arquivo de entrada (Windows-1252) não representa");
    // a word where a number or a name goes: the names it could have meant
    if (const auto names = input_value_names(*record); !names.empty() && input_value_text(*record, value) == value &&
                                                       value.find_first_of("0123456789") == std::string_view::npos) {
        // built in place: GCC 12 takes a chain of + here for an overlapping copy
        std::string why = "\"";
        why.append(value).append("\" não é um número nem um dos nomes (");
        for (std::size_t n = 0; n < names.size(); ++n) why.append(n == 0 ? "" : ", ").append(names[n].first);
        refuse(argument, why.append(")"));
    }
    return {*record, std::string(value)};
}

std::string input_with_settings(std::string_view bytes, std::string_view file_name,
                                const std::vector<std::pair<int, std::string>>& settings)
{
    InputParameters read = parse_input_data(bytes, file_name);
    const auto spans = read.record_span;
    std::vector<std::pair<int, std::string>> texts;
    for (const auto& [record, value] : settings) {
        std::string text = input_value_text(record, value);
        // the comment keeps its column: the blanks after the value give way
        // to a longer one (one stays) and grow after a shorter one
        const auto [first, length] = spans[static_cast<std::size_t>(record)];
        std::size_t blanks = 0;
        while (first + length + blanks < bytes.size() && bytes[first + length + blanks] == ' ') ++blanks;
        const bool comment_follows = blanks > 0 && first + length + blanks < bytes.size() &&
                                     bytes[first + length + blanks] != '\r' && bytes[first + length + blanks] != '\n';
        if (comment_follows && blanks < 100) {
            const std::size_t width = length + blanks;
            text.append(text.size() < width ? width - text.size() : 1, ' ');
            read.record_span[static_cast<std::size_t>(record)].second = width;
        }
        const auto same = std::find_if(texts.begin(), texts.end(), [r = record](const auto& t) { return t.first == r; });
        if (same != texts.end())
            same->second = text;
        else
            texts.emplace_back(record, text);
    }
    std::string changed = replace_records(bytes, read, texts);
    parse_input_data(changed, file_name);
    return changed;
}

}  // namespace placatermo
