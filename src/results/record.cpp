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

std::int32_t integer_of(const json& value, const char* name)
{
    if (const std::optional<std::int32_t> n = json_int32(value)) return *n;
    refuse(std::string("o campo \"") + name + "\" não é um inteiro de 32 bits");
}

std::int32_t integer_field(const json& object, const char* name) { return integer_of(field(object, name), name); }

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

namespace {

json json_value(const std::string& value) { return value; }
json json_value(double value) { return real(value); }
json json_value(std::int32_t value) { return value; }
json json_value(bool value) { return value; }
json json_value(const std::vector<double>& values)
{
    json list = json::array();
    for (const double value : values) list.push_back(real(value));
    return list;
}
json json_value(const std::optional<double>& value) { return value ? real(*value) : json(nullptr); }
json json_value(const std::optional<std::int64_t>& value) { return value ? json(*value) : json(nullptr); }
template <class Sizes>
json json_value(const RecordGrids<Sizes>& grids)
{
    json list = json::array();
    for (std::size_t k = 0; k < grids.nx.size() && k < grids.ny.size(); ++k)
        list.push_back({{grids.nx_key, grids.nx[k]}, {grids.ny_key, grids.ny[k]}});
    return list;
}

void read_value(const json& value, const char* name, std::string& into)
{
    if (!value.is_string()) refuse(std::string("o campo \"") + name + "\" não é um texto");
    into = value.get<std::string>();
}
void read_value(const json& value, const char* name, double& into) { into = real_of(value, name); }
void read_value(const json& value, const char* name, std::int32_t& into) { into = integer_of(value, name); }
void read_value(const json& value, const char* name, bool& into)
{
    if (!value.is_boolean()) refuse(std::string("o campo \"") + name + "\" não é verdadeiro nem falso");
    into = value.get<bool>();
}
const json& list_of(const json& value, const char* name)
{
    if (!value.is_array()) refuse(std::string("o campo \"") + name + "\" não é uma lista");
    return value;
}
void read_value(const json& value, const char* name, std::vector<double>& into)
{
    const json& list = list_of(value, name);
    into.reserve(list.size());
    for (const json& item : list) into.push_back(real_of(item, name));
}
void read_value(const json& value, const char* name, std::optional<double>& into)
{
    if (!value.is_null()) into = real_of(value, name);
}
void read_value(const json& value, const char* name, std::optional<std::int64_t>& into)
{
    if (value.is_null()) return;
    const std::int32_t count = integer_of(value, name);
    if (count < 0) refuse(std::string("o campo \"") + name + "\" é negativo");
    into = count;
}

}  // namespace

std::string run_record_json(const RunRecord& r)
{
    json record = {{json_format_key, record_format}, {json_format_version_key, record_format_version}};
    for_each_record_field(r, [&](const RecordField& f, const auto& value) {
        (f.within ? record[f.within] : record)[f.key] = json_value(value);
    });
    // texts that are not UTF-8 are written with U+FFFD in place of the bad bytes
    return record.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
}

RunRecord parse_run_record(std::string_view text)
{
    const json root = json::parse(text.begin(), text.end(), nullptr, false);
    if (root.is_discarded()) refuse("não é um texto JSON completo");
    if (!root.is_object() || !root.contains(json_format_key) || root[json_format_key] != record_format)
        refuse("não é um registro do placatermo");
    if (integer_field(root, json_format_version_key) != record_format_version) refuse("versão do formato desconhecida");
    RunRecord r;
    // written before the fields `later` were kept: the first of them says
    std::optional<bool> older;
    for_each_record_field(r, [&]<class Value>(const RecordField& f, Value&& value) {
        const json& object = f.within ? field(root, f.within) : root;
        if (f.later) {
            if (!older) older = !object.contains(f.key);
            if (*older) return;
        }
        if constexpr (std::is_same_v<std::remove_cvref_t<Value>, RecordGrids<std::vector<std::int32_t>>>) {
            for (const json& grid : list_of(field(object, f.key), f.key)) {
                value.nx.push_back(integer_field(grid, value.nx_key));
                value.ny.push_back(integer_field(grid, value.ny_key));
            }
            if (value.nx.empty() || static_cast<std::size_t>(r.grid_count) != value.nx.size())
                refuse(std::string("a lista \"") + f.key + "\" não tem uma entrada por malha");
            for (std::size_t k = 0; k < value.nx.size(); ++k)
                if (value.nx[k] < 3 || value.ny[k] < 3) refuse("uma malha tem menos de 3 volumes numa direção");
        } else {
            read_value(field(object, f.key), f.key, value);
        }
    });
    if (older.value_or(false)) r.convergence = convergence_factor(r.history, r.tolerance);
    return r;
}

}  // namespace placatermo
