// The Python module's way into the library (the extension _placatermo; the
// package placatermo wraps it in Portuguese): the input as the bytes of
// placatermo.ent, changed value by value as `--definir` changes it; the
// solution with the program's execution, the GIL released; the fields as
// numpy arrays over the outcome's own vectors; the program's files from an
// outcome; a study as `placatermo estudo` runs it.
#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/errors.hpp"
#include "base/text.hpp"
#include "experiment/experiment.hpp"
#include "experiment/files.hpp"
#include "experiment/settings.hpp"
#include "platform/files.hpp"
#include "platform/output_file.hpp"
#include "platform/platform.hpp"
#include "run/execution.hpp"
#include "studies/study.hpp"

namespace py = pybind11;
using namespace placatermo;

namespace {

// The execution of the program's runs, started at the first solution.
const Execution& module_execution()
{
    static const Execution execution = start_execution(ExecutionThreads::two_when_free);
    return execution;
}

// The execution's second thread runs one job at a time, and the kernels keep
// what they learn of each grid in tables of their own: one solution, or one
// writing of files, at a time, whichever Python threads ask (each waits
// with the interpreter released).
std::mutex& execution_in_use()
{
    static std::mutex in_use;
    return in_use;
}

// The input's errors as ErroDeEntrada, set by the package.
PyObject* input_error = PyExc_ValueError;

[[noreturn]] void refuse(const std::string& message)
{
    PyErr_SetString(input_error, message.c_str());
    throw py::error_already_set();
}

std::string label_of(int record) { return "erro no valor \"" + std::string(record_label(record)) + "\""; }

int record_of(const std::string& name)
{
    const auto record = input_record_named(name);
    if (!record) {
        std::string names;
        for (const auto& [number, key] : input_record_names()) names += (names.empty() ? "" : ", ") + std::string(key);
        refuse("valor desconhecido \"" + name + "\" (os valores: " + names + ")");
    }
    return *record;
}

// The input's bytes with one value written in, as --definir writes it.
py::bytes with_value(const py::bytes& bytes, const std::string& name, const std::string& value)
{
    const int record = record_of(name);
    try {
        const auto setting = input_setting(std::to_string(record) + "=" + value, label_of(record));
        return py::bytes(input_with_settings(std::string(bytes), "", {setting}));
    } catch (const FatalError& error) {
        refuse(error.what());
    }
}

// The checked input of bytes; `file_name` names them in a message ("" names
// the value).
InputParameters checked(const std::string& bytes, const std::string& file_name)
{
    try {
        return parse_input_data(bytes, file_name);
    } catch (const FatalError& error) {
        refuse(error.what());
    }
}

// The values of the input, by name, as numbers or texts.
py::dict values_of_input(const py::bytes& bytes, const std::string& file_name)
{
    const InputParameters input = checked(std::string(bytes), file_name);
    const InputValues v = values_of(input);
    py::dict values;
    for (const auto& [record, name] : input_record_names()) {
        const py::str key{std::string(name)};
        switch (record) {
        case 1: values[key] = cp1252_to_utf8(v.experiment_name); break;
        case 2: values[key] = cp1252_to_utf8(v.discretization_file_name); break;
        case 3: values[key] = cp1252_to_utf8(v.iterations_file_name); break;
        case 4: values[key] = v.lx; break;
        case 5: values[key] = v.ly; break;
        case 6: values[key] = v.grid_count; break;
        case 7: values[key] = v.nx; break;
        case 8: values[key] = v.ny; break;
        case 9: values[key] = v.tolerance; break;
        case 10: values[key] = v.max_outer_iterations; break;
        case 11: values[key] = v.solver_kind; break;
        case 12: values[key] = v.msi_tolerance; break;
        case 13: values[key] = v.max_inner_iterations; break;
        case 14: values[key] = v.sor_relaxation; break;
        case 15: values[key] = v.bc_kind; break;
        case 16: values[key] = cp1252_to_utf8(v.title); break;
        }
    }
    py::list warnings;
    for (const auto& warning : input.warnings) warnings.append(warning);
    values["_avisos"] = warnings;
    return values;
}

// A solution's outcome with what its files need.
struct Solution {
    Outcome outcome;
    std::string input_bytes;
    RunStamps stamps;
};

// A read-only array over a vector of the outcome, which it keeps alive.
template <class T>
py::array_t<T> array_over(const std::shared_ptr<Solution>& solution, const std::vector<T>& values,
                          std::vector<py::ssize_t> shape)
{
    auto* keep = new std::shared_ptr<Solution>(solution);
    py::capsule owner(keep, [](void* p) { delete static_cast<std::shared_ptr<Solution>*>(p); });
    py::array_t<T> array(shape, values.data(), owner);
    py::detail::array_proxy(array.ptr())->flags &= ~py::detail::npy_api::NPY_ARRAY_WRITEABLE_;
    return array;
}

// What the solving thread reports to Python: every history line to the
// callback, and at most every 20 ms a look at Python's signals (Ctrl-C).
class PythonObserver final : public SolutionObserver {
public:
    explicit PythonObserver(py::object callback) : callback_(std::move(callback)) {}

    void history_line(std::int32_t iteration, double ratio) override
    {
        if (callback_.is_none() || error_) return;
        py::gil_scoped_acquire gil;
        try {
            const py::object answer = callback_(iteration, ratio);
            if (!answer.is_none() && !answer.cast<bool>()) stopped_by_callback_ = true;
        } catch (py::error_already_set& error) {
            error_ = std::move(error);
        }
    }

    bool stop_requested()
    {
        if (stopped_by_callback_ || error_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now - last_look_ < std::chrono::milliseconds(20)) return false;
        last_look_ = now;
        py::gil_scoped_acquire gil;
        if (PyErr_CheckSignals() != 0) error_ = py::error_already_set();
        return error_.has_value();
    }

    bool stopped_by_callback() const { return stopped_by_callback_; }
    // The callback's error or the signal's exception, raised again.
    void raise_pending()
    {
        if (error_) {
            py::error_already_set error = std::move(*error_);
            error_.reset();
            throw error;
        }
    }
    ~PythonObserver() override
    {
        if (error_) {
            py::gil_scoped_acquire gil;
            error_.reset();
        }
    }

private:
    py::object callback_;
    bool stopped_by_callback_ = false;
    std::optional<py::error_already_set> error_;
    std::chrono::steady_clock::time_point last_look_ = std::chrono::steady_clock::now();
};

py::dict solve_input(const py::bytes& bytes, std::optional<std::string> cycle_name_given, py::object callback, bool frames)
{
    auto solution = std::make_shared<Solution>();
    solution->input_bytes = std::string(bytes);
    const InputParameters input = checked(solution->input_bytes, "");
    ExperimentOptions options;
    if (cycle_name_given) {
        options.cycle = cycle_from_name(*cycle_name_given);
        if (!options.cycle)
            refuse("multigrid=\"" + *cycle_name_given + "\": o ciclo é \"especificado\", \"classico\" ou \"rapido\"");
    }
    options.execution = module_execution();
    options.keep_history = true;
    options.keep_frames = frames;
    options.analytical = true;
    SystemPlatform platform;
    options.clock = [&platform] { return platform.clock_seconds(); };
    PythonObserver observer(std::move(callback));
    options.stop_requested = [&observer] { return observer.stop_requested(); };
    solution->stamps = run_stamps(platform.local_time(), input);
    std::optional<std::int32_t> stopped_at;
    {
        py::gil_scoped_release released;
        const std::lock_guard one_at_a_time(execution_in_use());
        try {
            const std::int32_t finest = input.grid_count;
            const double frame_bytes =
                frames ? IterationFrames::memory_bytes(input.grids.nx_of(finest), input.grids.ny_of(finest)) : 0.0;
            lay_heap_for_run(options.execution,
                             check_memory(input, physical_memory_bytes(), "",
                                          options.cycle.value_or(MultigridCycle::specified), frame_bytes));
            solution->outcome = run_experiment(input, options, &observer);
        } catch (const SolutionStopped& stopped) {
            stopped_at = stopped.iteration;
        }
    }
    observer.raise_pending();
    py::dict result;
    if (stopped_at) {
        result["parada"] = *stopped_at;
        return result;
    }
    const Outcome& o = solution->outcome;
    const auto nx = static_cast<py::ssize_t>(o.grid.nx), ny = static_cast<py::ssize_t>(o.grid.ny);
    result["t"] = array_over(solution, o.t, {ny, nx});
    result["analitica"] = array_over(solution, o.analytical, {ny, nx});
    result["x"] = array_over(solution, o.x, {nx});
    result["y"] = array_over(solution, o.y, {ny});
    result["historico"] = array_over(solution, o.history, {static_cast<py::ssize_t>(o.history.size())});
    result["iteracoes"] = o.iterations;
    result["convergiu"] = o.converged;
    result["ultima_razao"] = o.last_ratio;
    result["tmedia"] = py::make_tuple(o.mean_numerical, o.mean_analytical);
    result["q_norte"] = py::make_tuple(o.rate_numerical, o.rate_analytical);
    result["erro"] = py::make_tuple(o.error.l1, o.error.l2, o.error.max);
    result["fator_convergencia"] = o.convergence.factor ? py::cast(*o.convergence.factor) : py::none();
    result["tempo_s"] = o.seconds;
    py::list warnings;
    for (const auto& warning : input.warnings) warnings.append(warning);
    if (const auto diverged = divergence_warning(o)) warnings.append(*diverged);
    result["avisos"] = warnings;
    py::list frame_list;
    if (o.frames) {
        const auto rows = static_cast<py::ssize_t>(o.frames->rows());
        const auto columns = static_cast<py::ssize_t>(o.frames->columns());
        for (const AnimationFrame& frame : o.frames->frames()) {
            py::dict one;
            one["iteracao"] = frame.iteration;
            one["razao"] = frame.ratio;
            one["maior_erro"] = frame.largest_error;
            one["erro"] = array_over(solution, frame.error, {rows, columns});
            one["log_residuo"] = array_over(solution, frame.log_residual, {rows, columns});
            frame_list.append(one);
        }
    }
    result["quadros"] = frame_list;
    result["_solucao"] = py::capsule(new std::shared_ptr<Solution>(solution),
                                     [](void* p) { delete static_cast<std::shared_ptr<Solution>*>(p); });
    return result;
}

// The program's files of a solution in `folder`, each written whole; their
// names in the order written.
std::vector<std::string> write_files(const py::capsule& kept, const std::string& folder_utf8)
{
    const Solution& solution = **static_cast<std::shared_ptr<Solution>*>(kept.get_pointer());
    const std::filesystem::path folder = std::filesystem::u8path(folder_utf8);
    std::vector<std::string> names;
    py::gil_scoped_release released;
    const std::lock_guard one_at_a_time(execution_in_use());
    try {
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        for (const auto& file :
             run_files_in_memory(solution.outcome, solution.input_bytes, solution.stamps, module_execution())) {
            write_file_atomically((folder / file.name).string(), file.bytes);
            names.push_back(cp1252_to_utf8(file.name));
        }
    } catch (const FatalError& error) {
        py::gil_scoped_acquire gil;
        throw std::runtime_error(error.what());
    }
    return names;
}

// Asked from any thread of a study: the package sets it when Ctrl-C reaches
// the Python thread that waits for the study.
std::atomic<bool> study_stop{false};
bool study_stop_requested() { return study_stop.load(std::memory_order_relaxed); }

// A study as `placatermo estudo` runs it, from its arguments after the
// folder; the exit status.
int run_study_arguments(const std::vector<std::string>& arguments)
{
    std::vector<std::string> texts = {"placatermo", "estudo"};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (auto& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    StudyOptions options;
    try {
        options = parse_study_arguments(static_cast<int>(texts.size()), argv.data());
    } catch (const FatalError& error) {
        refuse(error.what());
    }
    SystemPlatform platform;
    std::string message;
    int status = 0;
    study_stop = false;
    {
        py::gil_scoped_release released;
        try {
            status = run_study(options, platform, study_stop_requested);
        } catch (const FatalError& error) {
            message = error.what();
        }
    }
    if (!message.empty()) refuse(message);
    return status;
}

}  // namespace

PYBIND11_MODULE(_placatermo, module)
{
    module.doc() = "A ligação do pacote placatermo com a biblioteca do programa.";
    module.def("_definir_erro", [](py::object error) {
        input_error = error.release().ptr();
    });
    module.def("entrada_padrao", [] { return py::bytes(default_input_file()); });
    module.def("nomes", [] {
        std::vector<std::pair<int, std::string>> names;
        for (const auto& [record, name] : input_record_names()) names.emplace_back(record, std::string(name));
        return names;
    });
    module.def("nomes_dos_valores", [](int record) {
        std::vector<std::pair<std::string, int>> names;
        for (const auto& [name, number] : input_value_names(record)) names.emplace_back(std::string(name), number);
        return names;
    });
    module.def("registro", [](const std::string& name) { return record_of(name); });
    module.def("definir", &with_value);
    module.def("valores", &values_of_input, py::arg("entrada"), py::arg("arquivo") = "");
    module.def("resolver", &solve_input, py::arg("entrada"), py::arg("ciclo"), py::arg("ao_iterar"), py::arg("quadros"));
    module.def("gravar", &write_files);
    module.def("estudo", &run_study_arguments);
    module.def("parar_estudo", [] { study_stop = true; });
    module.attr("versao") = PLACATERMO_VERSION;
}
