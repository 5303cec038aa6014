// The page's way into the library: the experiment as a few calls from
// JavaScript (in a Web Worker), values and scalars as JSON, the fields and the
// run's files as bytes in the module's memory.
//
//   placatermo_valores_padrao()          -> {"nome": "texto", ...} in record order
//   placatermo_conferir(valores)         -> {"erros": [...], "avisos": [...]}
//   placatermo_resolver(valores, opcoes) -> the outcome's scalars and the
//                                           names of its arrays and files
//   placatermo_dados(nome), placatermo_tamanho(nome) -> one of them
//
// Values are texts as a form holds them, by the records' names; the input
// file they make is the default one with each value written in its place,
// as `--definir` writes it, so that the program given that file writes the
// same bytes.
#include <emscripten/emscripten.h>
#if defined(__EMSCRIPTEN_PTHREADS__)
#include <emscripten/threading.h>
#endif

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "experiment/experiment.hpp"
#include "experiment/files.hpp"
#include "experiment/settings.hpp"

using nlohmann::json;
using namespace placatermo;

namespace {

// Each history line on its way to the page (which draws at most ten times a
// second).
EM_JS(void, tell_history_line, (int iteration, double ratio), {
    if (Module.aoIterar) Module.aoIterar(iteration, ratio);
});

// The answer of the last call, kept until the next one.
std::string answer;
// The last run's arrays and files by name.
std::map<std::string, std::string> kept;

template <class Json>
const char* reply(const Json& value)
{
    answer = value.dump(-1, ' ', false, Json::error_handler_t::replace);
    return answer.c_str();
}

template <class T>
void keep_array(const std::string& name, const std::vector<T>& values)
{
    kept[name].assign(reinterpret_cast<const char*>(values.data()), values.size() * sizeof(T));
}

// The record a message of the reader names ("erro no valor \"título\": ..."),
// 0 for none.
int record_in(std::string_view message)
{
    for (int record = 1; record <= 16; ++record)
        if (message.find("\"" + std::string(record_label(record)) + "\"") != std::string_view::npos)
            return record;
    return 0;
}

std::string name_of(int record)
{
    for (const auto& [number, name] : input_record_names())
        if (number == record) return std::string(name);
    return {};
}

// The form's values as settings; a name that is no record is an error of
// the page, not of the user.
std::vector<std::pair<int, std::string>> settings_of(const char* values_json)
{
    std::vector<std::pair<int, std::string>> settings;
    const json values = json::parse(values_json);
    for (const auto& [name, text] : values.items()) {
        const auto record = input_record_named(name);
        if (!record) throw FatalError("valor desconhecido \"" + name + "\"");
        settings.emplace_back(*record, text.get<std::string>());
    }
    return settings;
}

// The input file of the values, checked (a FatalError with the reader's
// message, naming the value).
std::string input_of(const std::vector<std::pair<int, std::string>>& settings)
{
    return input_with_settings(default_input_file(), "", settings);
}

json error_of(const std::string& message)
{
    const int record = record_in(message);
    return {{"registro", record}, {"nome", name_of(record)}, {"mensagem", message}};
}

}  // namespace

extern "C" {

EMSCRIPTEN_KEEPALIVE const char* placatermo_valores_padrao()
{
    const InputParameters in = parse_input_data(default_input_file(), "");
    const std::string file = default_input_file();
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    for (const auto& [record, name] : input_record_names()) {
        const auto [first, length] = in.record_span[static_cast<std::size_t>(record)];
        std::string text = file.substr(first, length);
        if (!text.empty() && (text.front() == '\'' || text.front() == '"'))
            text = text.substr(1, text.size() - 2);  // a text without its quotes
        values[std::string(name)] = cp1252_to_utf8(text);
    }
    return reply(values);
}

EMSCRIPTEN_KEEPALIVE const char* placatermo_conferir(const char* values_json)
{
    json errors = json::array(), warnings = json::array();
    try {
        const auto settings = settings_of(values_json);
        // each value alone first, so that every wrong one is named at once
        for (const auto& setting : settings) {
            try {
                input_of({setting});
            } catch (const FatalError& error) {
                errors.push_back(error_of(error.what()));
            }
        }
        if (errors.empty()) {
            try {
                const InputParameters in = parse_input_data(input_of(settings), "");
                for (const auto& warning : in.warnings) warnings.push_back(warning);
            } catch (const FatalError& error) {
                errors.push_back(error_of(error.what()));
            }
        }
    } catch (const std::exception& error) {
        errors.push_back(error_of(error.what()));
    }
    return reply(json{{"erros", errors}, {"avisos", warnings}});
}

// opcoes: {"ciclo": "classico" | "rapido" | "especificado" | null, "quadros": bool,
// "agora": [ano, mês, dia, hora, minuto, segundo], "memoria": bytes free}
EMSCRIPTEN_KEEPALIVE const char* placatermo_resolver(const char* values_json, const char* options_json)
{
    kept.clear();
    try {
        const std::string input_bytes = input_of(settings_of(values_json));
        const InputParameters input = parse_input_data(input_bytes, "");
        const json options_given = json::parse(options_json);
        ExperimentOptions options;
        if (options_given.contains("ciclo") && options_given["ciclo"].is_string())
            options.cycle = cycle_from_name(options_given["ciclo"].get<std::string>());
        options.keep_history = true;
        options.keep_level_norms = true;
        options.keep_frames = options_given.value("quadros", false);
        options.analytical = true;
        options.clock = [] { return emscripten_get_now() / 1000.0; };
#if defined(__EMSCRIPTEN_PTHREADS__)
        // the module built with threads: the large passes on two, as the
        // program does on a machine with two cores free
        if (emscripten_num_logical_cores() >= 2) options.execution.second_thread = second_thread();
#endif
        const double frame_bytes =
            options.keep_frames ? IterationFrames::memory_bytes(input.grids.nx_of(input.grid_count),
                                                                input.grids.ny_of(input.grid_count))
                                : 0.0;
        check_memory(input, options_given.value("memoria", 0.0), "", options.cycle.value_or(MultigridCycle::specified),
                     frame_bytes);

        struct Observer final : SolutionObserver {
            void history_line(std::int32_t iteration, double ratio) override { tell_history_line(iteration, ratio); }
        } observer;
        const Outcome outcome = run_experiment(input, options, &observer);

        LocalTime now;
        const auto at = options_given.value("agora", std::vector<int>{});
        if (at.size() == 6) now = {at[0], at[1], at[2], at[3], at[4], at[5]};
        const RunStamps stamps = run_stamps(now, input);
        std::vector<std::string> files;
        for (auto& file : run_files_in_memory(outcome, input_bytes, stamps)) {
            files.push_back(file.name);
            kept[file.name] = std::move(file.bytes);
        }

        keep_array("t", outcome.t);
        keep_array("analitica", outcome.analytical);
        keep_array("x", outcome.x);
        keep_array("y", outcome.y);
        keep_array("historico", outcome.history);
        json levels = json::array();
        for (const auto& level : outcome.level_norms)
            levels.push_back({{"nx", level.nx}, {"ny", level.ny}, {"iteracoes", level.iterations}, {"normas", level.norms}});
        json frames = json::array();
        if (outcome.frames) {
            const auto& all = outcome.frames->frames();
            for (std::size_t f = 0; f < all.size(); ++f) {
                keep_array("quadro_erro_" + std::to_string(f), all[f].error);
                keep_array("quadro_residuo_" + std::to_string(f), all[f].log_residual);
                frames.push_back({{"iteracao", all[f].iteration}, {"razao", all[f].ratio}, {"maior_erro", all[f].largest_error}});
            }
        }
        json warnings = json::array();
        for (const auto& warning : input.warnings) warnings.push_back(warning);
        if (const auto diverged = divergence_warning(outcome)) warnings.push_back(*diverged);
        const auto finite = [](double value) { return std::isfinite(value) ? json(value) : json(nullptr); };
        return reply(json{
            {"iteracoes", outcome.iterations},
            {"convergiu", outcome.converged},
            {"ultima_razao", finite(outcome.last_ratio)},
            {"tmedia", {{"numerica", finite(outcome.mean_numerical)}, {"analitica", outcome.mean_analytical}}},
            {"q_norte", {{"numerica", finite(outcome.rate_numerical)}, {"analitica", outcome.rate_analytical}}},
            {"erro", {{"l1", finite(outcome.error.l1)}, {"l2", finite(outcome.error.l2)}, {"max", finite(outcome.error.max)}}},
            {"fator_convergencia", outcome.convergence.factor ? finite(*outcome.convergence.factor) : json(nullptr)},
            {"tempo_s", outcome.seconds},
            {"solver", std::string(solver_name(input.solver()))},
            {"ciclo", input.grid_count > 1 ? json(std::string(cycle_name(outcome.cycle()))) : json(nullptr)},
            {"malhas", input.grid_count},
            {"nx", outcome.grid.nx},
            {"ny", outcome.grid.ny},
            {"niveis", levels},
            {"quadros", frames},
            {"quadro_colunas", outcome.frames ? outcome.frames->columns() : 0},
            {"quadro_linhas", outcome.frames ? outcome.frames->rows() : 0},
            {"avisos", warnings},
            {"arquivos", files},
        });
    } catch (const std::bad_alloc&) {
        return reply(json{{"erro", "memória insuficiente"}});
    } catch (const std::exception& error) {
        return reply(json{{"erro", error.what()}});
    }
}

EMSCRIPTEN_KEEPALIVE const char* placatermo_dados(const char* name)
{
    const auto at = kept.find(name);
    return at == kept.end() ? nullptr : at->second.data();
}

EMSCRIPTEN_KEEPALIVE std::uint32_t placatermo_tamanho(const char* name)
{
    const auto at = kept.find(name);
    return at == kept.end() ? 0 : static_cast<std::uint32_t>(at->second.size());
}

}  // extern "C"
