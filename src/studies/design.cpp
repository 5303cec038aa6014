// A study's design (estudo.json): the base input, the variations and the
// runs, kept in the study folder before the first run and read back.
#include <nlohmann/json.hpp>

#include "base/errors.hpp"
#include "studies/study_parts.hpp"

namespace placatermo {

using namespace study_parts;

namespace {

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

std::string mebibytes_text(std::uintmax_t bytes) { return std::to_string((bytes + 1048575) >> 20) + " MiB"; }

std::string too_many_runs(const std::vector<StudyVariation>& variations)
{
    std::string sizes;
    for (const auto& variation : variations)
        sizes += (sizes.empty() ? "" : " × ") + std::to_string(variation.values.size());
    return "o estudo teria " + sizes + " execuções, mais do que as " + std::to_string(largest_study_runs) +
           " que um estudo pode ter: divida-o em estudos menores";
}

}  // namespace

namespace study_parts {

std::string design_too_large(std::string_view what, std::uintmax_t bytes)
{
    return std::string(what) + " " + mebibytes_text(bytes) + ", mais do que os " +
           mebibytes_text(largest_design_bytes) + " do desenho do estudo (" + std::string(study_design_file) +
           ") que --coletar e --continuar leem: encurte os valores ou divida o estudo em estudos menores";
}

std::string folder_name(int number, int total)
{
    const int width = std::max<int>(3, static_cast<int>(std::to_string(total).size()));
    std::string name = std::to_string(number);
    return std::string(static_cast<std::size_t>(std::max<int>(0, width - static_cast<int>(name.size()))), '0') + name;
}

std::string run_input_bytes(const StudyDesign& design, const InputParameters& base_parameters, const StudyRun& run)
{
    std::vector<std::pair<int, std::string>> values;
    for (std::size_t v = 0; v < design.variations.size(); ++v)
        if (design.variations[v].record != 0) values.emplace_back(design.variations[v].record, run.values[v]);
    return replace_records(design.base_input, base_parameters, values);
}

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

}  // namespace study_parts

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

std::string study_design_json(const StudyDesign& design)
{
    using nlohmann::json;
    json variations = json::array();
    for (const auto& variation : design.variations)
        variations.push_back({{"registro", variation.record}, {"valores", variation.values}});
    json runs = json::array();
    for (const auto& run : design.runs)
        runs.push_back({{"numero", run.number}, {"pasta", run.folder.filename().string()}, {"valores", run.values}});
    const json root = {{json_format_key, "placatermo-estudo"},
                       {json_format_version_key, 1},
                       {json_program_key, design.program_version},
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
        if (!root.is_object() || root.value(json_format_key, std::string()) != "placatermo-estudo")
            throw broken("não é o desenho de um estudo do placatermo");
        if (whole(root.at(json_format_version_key)) != 1) throw broken("versão do formato desconhecida");
        StudyDesign design;
        design.program_version = root.at(json_program_key).get<std::string>();
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

}  // namespace placatermo
