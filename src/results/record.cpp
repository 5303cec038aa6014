// The record of a run as JSON (nlohmann-json), written and read back.
#include "results/record.hpp"

#include <cerrno>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <system_error>

#include "base/errors.hpp"
#include "results/results.hpp"

namespace placatermo {

namespace {

using nlohmann::json;

constexpr std::string_view record_format = "placatermo-registro";
constexpr int record_format_version = 1;

// Finite reals as JSON numbers (written with the shortest digits that read
// back to the same double); the others as the texts "nan", "inf", "-inf".
json real(double value)
{
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
    return value;
}

[[noreturn]] void refuse(const std::string& what) { throw FatalError("registro inválido: " + what); }

const json& field(const json& object, const char* name)
{
    if (!object.is_object()) refuse("esperava um objeto JSON");
    const auto found = object.find(name);
    if (found == object.end()) refuse(std::string("falta o campo \"") + name + "\"");
    return *found;
}

double real_of(const json& value, const char* name)
{
    if (value.is_number()) return value.get<double>();
    if (value.is_string()) {
        const auto& text = value.get_ref<const std::string&>();
        if (text == "nan") return std::numeric_limits<double>::quiet_NaN();
        if (text == "inf") return std::numeric_limits<double>::infinity();
        if (text == "-inf") return -std::numeric_limits<double>::infinity();
    }
    refuse(std::string("o campo \"") + name + "\" não é um número real");
}

double real_field(const json& object, const char* name) { return real_of(field(object, name), name); }

std::int32_t integer_of(const json& value, const char* name)
{
    if (const std::optional<std::int32_t> n = json_int32(value)) return *n;
    refuse(std::string("o campo \"") + name + "\" não é um inteiro de 32 bits");
}

std::int32_t integer_field(const json& object, const char* name) { return integer_of(field(object, name), name); }

std::string text_field(const json& object, const char* name)
{
    const json& value = field(object, name);
    if (!value.is_string()) refuse(std::string("o campo \"") + name + "\" não é um texto");
    return value.get<std::string>();
}

bool bool_field(const json& object, const char* name)
{
    const json& value = field(object, name);
    if (!value.is_boolean()) refuse(std::string("o campo \"") + name + "\" não é verdadeiro nem falso");
    return value.get<bool>();
}

const json& array_field(const json& object, const char* name)
{
    const json& value = field(object, name);
    if (!value.is_array()) refuse(std::string("o campo \"") + name + "\" não é uma lista");
    return value;
}

}  // namespace

std::optional<std::int32_t> json_int32(const nlohmann::json& value)
{
    if (value.is_number_unsigned()) {
        const auto n = value.get<std::uint64_t>();
        if (n <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
            return static_cast<std::int32_t>(n);
    } else if (value.is_number_integer()) {
        const auto n = value.get<std::int64_t>();
        if (n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max())
            return static_cast<std::int32_t>(n);
    }
    return std::nullopt;
}

std::string record_file_name(std::string_view results_name, std::string_view summary_name)
{
    return name_beside_results(results_name, summary_name, ".json");
}

std::string bytes_hash(std::string_view bytes)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int k = 15; k >= 0; --k, hash >>= 4) text[static_cast<std::size_t>(k)] = digits[hash & 15u];
    return text;
}

std::string run_record_json(const RunRecord& r)
{
    json grids = json::array();
    for (std::size_t k = 0; k < r.grid_nx.size() && k < r.grid_ny.size(); ++k)
        grids.push_back({{"nx", r.grid_nx[k]}, {"ny", r.grid_ny[k]}});
    json history = json::array();
    for (const double ratio : r.history) history.push_back(real(ratio));
    const json record = {
        {"formato", record_format},
        {"versao_formato", record_format_version},
        {"programa", r.program_version},
        {"entrada_fnv1a64", r.input_hash},
        {"entrada",
         {{"nome_experimento", r.experiment_name},
          {"arquivo_discretizacao", r.discretization_file_name},
          {"arquivo_iterativos", r.iterations_file_name},
          {"lx", real(r.lx)},
          {"ly", real(r.ly)},
          {"malhas", r.grid_count},
          {"tolerancia", real(r.tolerance)},
          {"iteracoes_externas_max", r.max_outer_iterations},
          {"solver", r.solver_kind},
          {"tolerancia_msi", real(r.msi_tolerance)},
          {"iteracoes_internas_max", r.max_inner_iterations},
          {"relaxacao_sor", real(r.sor_relaxation)},
          {"cc", r.bc_kind},
          {"titulo", r.title}}},
        {"solver", r.solver},
        {"ciclo", r.cycle},
        {"malhas", grids},
        {"historico", history},
        {"iteracoes", r.iterations},
        {"convergiu", r.converged},
        {"fator_convergencia", r.convergence.factor ? real(*r.convergence.factor) : json(nullptr)},
        {"reducoes_no_fator", r.convergence.reductions},
        {"iteracoes_previstas",
         r.convergence.further_iterations ? json(*r.convergence.further_iterations) : json(nullptr)},
        {"tmedia", {{"numerica", real(r.mean_numerical)}, {"analitica", real(r.mean_analytical)}}},
        {"q_norte", {{"numerica", real(r.rate_numerical)}, {"analitica", real(r.rate_analytical)}}},
        {"erro", {{"l1", real(r.error_l1)}, {"l2", real(r.error_l2)}, {"max", real(r.error_max)}}},
        {"tempo_s", real(r.seconds)},
        {"estado", r.status},
    };
    // texts that are not UTF-8 are written with U+FFFD in place of the bad bytes
    return record.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

RunRecord parse_run_record(std::string_view text)
{
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) refuse("não é um texto JSON completo");
    if (!root.is_object() || !root.contains("formato") || root["formato"] != record_format)
        refuse("não é um registro do placatermo");
    if (integer_field(root, "versao_formato") != record_format_version) refuse("versão do formato desconhecida");
    RunRecord r;
    r.program_version = text_field(root, "programa");
    r.input_hash = text_field(root, "entrada_fnv1a64");
    const json& input = field(root, "entrada");
    r.experiment_name = text_field(input, "nome_experimento");
    r.discretization_file_name = text_field(input, "arquivo_discretizacao");
    r.iterations_file_name = text_field(input, "arquivo_iterativos");
    r.lx = real_field(input, "lx");
    r.ly = real_field(input, "ly");
    r.grid_count = integer_field(input, "malhas");
    r.tolerance = real_field(input, "tolerancia");
    r.max_outer_iterations = integer_field(input, "iteracoes_externas_max");
    r.solver_kind = integer_field(input, "solver");
    r.msi_tolerance = real_field(input, "tolerancia_msi");
    r.max_inner_iterations = integer_field(input, "iteracoes_internas_max");
    r.sor_relaxation = real_field(input, "relaxacao_sor");
    r.bc_kind = integer_field(input, "cc");
    r.title = text_field(input, "titulo");
    r.solver = text_field(root, "solver");
    r.cycle = text_field(root, "ciclo");
    for (const json& grid : array_field(root, "malhas")) {
        r.grid_nx.push_back(integer_field(grid, "nx"));
        r.grid_ny.push_back(integer_field(grid, "ny"));
    }
    if (r.grid_nx.empty() || static_cast<std::size_t>(r.grid_count) != r.grid_nx.size())
        refuse("a lista \"malhas\" não tem uma entrada por malha");
    for (std::size_t k = 0; k < r.grid_nx.size(); ++k)
        if (r.grid_nx[k] < 3 || r.grid_ny[k] < 3) refuse("uma malha tem menos de 3 volumes numa direção");
    const json& history = array_field(root, "historico");
    r.history.reserve(history.size());
    for (const json& ratio : history) r.history.push_back(real_of(ratio, "historico"));
    r.iterations = integer_field(root, "iteracoes");
    r.converged = bool_field(root, "convergiu");
    if (root.contains("fator_convergencia")) {
        const json& factor = root["fator_convergencia"];
        if (!factor.is_null()) r.convergence.factor = real_of(factor, "fator_convergencia");
        r.convergence.reductions = integer_field(root, "reducoes_no_fator");
        const json& further = field(root, "iteracoes_previstas");
        if (!further.is_null()) {
            const std::int32_t count = integer_of(further, "iteracoes_previstas");
            if (count < 0) refuse("o campo \"iteracoes_previstas\" é negativo");
            r.convergence.further_iterations = count;
        }
    } else {
        r.convergence = convergence_factor(r.history, r.tolerance);
    }
    const json& mean = field(root, "tmedia");
    r.mean_numerical = real_field(mean, "numerica");
    r.mean_analytical = real_field(mean, "analitica");
    const json& rate = field(root, "q_norte");
    r.rate_numerical = real_field(rate, "numerica");
    r.rate_analytical = real_field(rate, "analitica");
    const json& error = field(root, "erro");
    r.error_l1 = real_field(error, "l1");
    r.error_l2 = real_field(error, "l2");
    r.error_max = real_field(error, "max");
    r.seconds = real_field(root, "tempo_s");
    r.status = text_field(root, "estado");
    return r;
}

}  // namespace placatermo
