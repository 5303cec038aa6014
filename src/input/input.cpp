#include "input/input.hpp"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "base/errors.hpp"

namespace placatermo {

namespace {

constexpr std::string_view labels[] = {
    "",
    "nome do experimento numérico",
    "nome do arquivo de resultados (discretização)",
    "nome do arquivo de resultados (iterativos)",
    "comprimento do domínio de cálculo na direção X",
    "comprimento do domínio de cálculo na direção Y",
    "número de malhas",
    "número de volumes na direção X da malha 1",
    "número de volumes na direção Y da malha 1",
    "tolerância do problema",
    "número máximo de iterações externas",
    "solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI",
    "tolerância no MSI",
    "número máximo de iterações internas",
    "coeficiente de relaxação do SOR",
    "1:c.c.linear; 2:c.c.senoidal",
    "título",
};

// Names of the other files of a run, which a results or summary file must not
// overwrite.
constexpr std::string_view reserved_names[] = {"placatermo.ent", "Tx.dat", "Ty.dat", "Tx.gnu", "Ty.gnu"};

// How a message names a value that has no file (a form's field, a value
// given to a library call).
std::string value_name(int record) { return "valor \"" + std::string(labels[record]) + "\""; }
std::string value_place(int record) { return "erro no " + value_name(record); }

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }
bool ends_value(char c) { return is_blank(c) || c == ',' || c == '/'; }

std::string quote(std::string_view bytes)
{
    constexpr std::size_t shown = 40;
    std::string text = cp1252_to_utf8(bytes.substr(0, shown));
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return "\"" + text + (bytes.size() > shown ? "...\"" : "\"");
}

class RecordReader {
public:
    RecordReader(std::string_view bytes, std::string_view file_name) : bytes_(bytes), file_(file_name)
    {
        if (bytes_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
    }

    [[noreturn]] void fail(int record, const std::string& what) const
    {
        if (file_.empty()) throw FatalError(value_place(record) + ": " + what);
        throw FatalError("erro de leitura no arquivo \"" + std::string(file_) + "\", linha " + std::to_string(line_) +
                         ", parâmetro \"" + std::string(labels[record]) + "\": " + what);
    }

    // The first value from the start of the next line on, skipping blank
    // lines. A quoted text gives its inner text with doubled marks undone.
    std::string next_value(int record, bool& quoted)
    {
        for (;;) {
            if (pos_ >= bytes_.size()) {
                throw FatalError("fim do arquivo \"" + std::string(file_) + "\" após a linha " + std::to_string(line_) +
                                 ": falta o parâmetro \"" + std::string(labels[record]) + "\" (registro " +
                                 std::to_string(record) + " de 16)");
            }
            auto end = bytes_.find('\n', pos_);
            if (end == std::string_view::npos) end = bytes_.size();
            const std::string_view line = bytes_.substr(pos_, end - pos_);
            const std::size_t line_start = pos_;
            pos_ = end + 1;
            ++line_;
            std::size_t i = 0;
            while (i < line.size() && is_blank(line[i])) ++i;
            if (i == line.size()) continue;
            record_line_ = line_;
            const char first = line[i];
            if (first == ',' || first == '/') fail(record, "o valor está faltando no início da linha");
            rest_ = {};
            if (first == '\'' || first == '"') {
                quoted = true;
                std::size_t closing = 0;
                std::string text = quoted_text(record, line, i, closing);
                span_ = {line_start + i, closing + 1 - i};
                return text;
            }
            quoted = false;
            std::size_t j = i;
            while (j < line.size() && !ends_value(line[j])) ++j;
            rest_ = line.substr(j);
            span_ = {line_start + i, j - i};
            return std::string(line.substr(i, j - i));
        }
    }

    int record_line() const { return record_line_; }
    // Where the last value stands in the file: first byte and length (a
    // quoted text with its marks).
    std::pair<std::size_t, std::size_t> span() const { return span_; }
    // What follows the last unquoted value on its line.
    std::string_view rest() const { return rest_; }
    std::string_view file() const { return file_; }

private:
    std::string quoted_text(int record, std::string_view line, std::size_t i, std::size_t& closing) const
    {
        const char mark = line[i];
        std::string text;
        for (std::size_t j = i + 1; j < line.size(); ++j) {
            if (line[j] == mark) {
                if (j + 1 < line.size() && line[j + 1] == mark) {
                    text += mark;
                    ++j;
                    continue;
                }
                closing = j;
                return text;
            }
            if (line[j] != '\r') text += line[j];
        }
        fail(record, std::string("o texto aberto com ") + (mark == '"' ? "aspas" : "apóstrofo") +
                         " não foi fechado na mesma linha");
    }

    std::string_view bytes_;
    std::string_view file_;
    std::size_t pos_ = 0;
    int line_ = 0;
    int record_line_ = 0;
    std::string_view rest_;
    std::pair<std::size_t, std::size_t> span_{};
};

class InputParser {
public:
    InputParser(std::string_view bytes, std::string_view file_name) : reader_(bytes, file_name) {}

    template <std::size_t N>
    void read_text(int record, FixedText<N>& value)
    {
        bool quoted = false;
        const std::string text = next(record, quoted);
        for (const char c : text) {
            const auto u = static_cast<unsigned char>(c);
            if ((u < 0x20 && c != '\t') || u == 0x7F)
                reader_.fail(record, "o texto contém um caractere de controle (byte " + std::to_string(u) + ")");
        }
        value.assign(text);
    }

    std::int32_t read_integer(int record)
    {
        bool quoted = false;
        const std::string text = next(record, quoted);
        std::string_view digits = text;
        if (!quoted && !digits.empty() && (digits[0] == '+' || digits[0] == '-')) digits.remove_prefix(1);
        bool valid = !quoted && !digits.empty();
        for (const char c : digits) valid = valid && c >= '0' && c <= '9';
        if (!valid) reader_.fail(record, quote(text) + " não é um número inteiro");
        check_decimal_comma(record, text);
        std::int64_t value = 0;
        const auto* start = text.data() + (text[0] == '+' ? 1 : 0);
        const auto result = std::from_chars(start, text.data() + text.size(), value);
        if (result.ec != std::errc{} || value < std::numeric_limits<std::int32_t>::min() ||
            value > std::numeric_limits<std::int32_t>::max())
            reader_.fail(record,
                         quote(text) + " está fora do intervalo dos inteiros de 32 bits (de -2147483648 a 2147483647)");
        return static_cast<std::int32_t>(value);
    }

    double read_double(int record)
    {
        bool quoted = false;
        const std::string original = next(record, quoted);
        std::string text = original;
        // sign, digits with an optional point, optional exponent E, D or Q
        std::size_t i = 0;
        const auto digit = [&](std::size_t k) { return k < text.size() && text[k] >= '0' && text[k] <= '9'; };
        if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
        std::size_t mantissa_digits = 0;
        while (digit(i)) ++i, ++mantissa_digits;
        if (i < text.size() && text[i] == '.') ++i;
        while (digit(i)) ++i, ++mantissa_digits;
        bool valid = !quoted && mantissa_digits > 0;
        if (valid && i < text.size()) {
            const char e = text[i];
            if (e == 'E' || e == 'e' || e == 'D' || e == 'd' || e == 'Q' || e == 'q') {
                text[i] = 'E';
                ++i;
                if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
                valid = digit(i);
                while (digit(i)) ++i;
            }
            valid = valid && i == text.size();
        }
        if (!valid) reader_.fail(record, quote(original) + " não é um número real");
        check_decimal_comma(record, original);
        errno = 0;
        const double value = std::strtod(text.c_str(), nullptr);
        if (errno == ERANGE && (value > 1.0 || value < -1.0))
            reader_.fail(record, quote(original) + " está fora do intervalo dos números reais de precisão dupla");
        return value;
    }

    [[noreturn]] void fail(int record, const std::string& what) { reader_.fail(record, what); }

    // A warning about record `record` as the user reads it.
    void warn(int record, const std::string& what)
    {
        warnings_.push_back(reader_.file().empty() ? "aviso: " + value_name(record) + ": " + what
                                                   : "aviso: arquivo \"" + std::string(reader_.file()) + "\", linha " +
                                                         std::to_string(line_of(record)) + ", parâmetro \"" +
                                                         std::string(labels[record]) + "\": " + what);
        warned_[static_cast<std::size_t>(record)] = true;
    }
    bool warned(int record) const { return warned_[static_cast<std::size_t>(record)]; }
    const std::string& text_of(int record) const { return texts_[static_cast<std::size_t>(record)]; }
    std::vector<std::string> take_warnings() { return std::move(warnings_); }
    const std::array<std::pair<std::size_t, std::size_t>, 17>& spans() const { return spans_; }
    int line_of(int record) const { return lines_[static_cast<std::size_t>(record)]; }
    const std::array<int, 17>& lines() const { return lines_; }

private:
    std::string next(int record, bool& quoted)
    {
        std::string value = reader_.next_value(record, quoted);
        lines_[static_cast<std::size_t>(record)] = reader_.record_line();
        spans_[static_cast<std::size_t>(record)] = reader_.span();
        texts_[static_cast<std::size_t>(record)] = value;
        return value;
    }

    // "0,5": the comma ends the number, which is read as 0.
    void check_decimal_comma(int record, const std::string& text)
    {
        const std::string_view rest = reader_.rest();
        std::size_t digits = 1;
        while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
        if (rest.empty() || rest[0] != ',' || digits == 1) return;
        const std::string typed = text + std::string(rest.substr(0, digits));
        warn(record, "\"" + typed + "\" foi lido como " + text + ": o separador decimal é o ponto (" + text + "." +
                         std::string(rest.substr(1, digits - 1)) + ")");
    }

    RecordReader reader_;
    std::array<int, 17> lines_{};
    std::array<std::string, 17> texts_;
    std::array<std::pair<std::size_t, std::size_t>, 17> spans_{};
    std::array<bool, 17> warned_{};
    std::vector<std::string> warnings_;
};

bool is_reserved(std::string_view name)
{
    for (const auto reserved : reserved_names)
        if (name == reserved) return true;
    return false;
}

// The Windows device that a name without a folder part opens, "" for none:
// Windows reads "NUL.txt", "nul .res" and "Com1." as the device itself.
std::string windows_device(std::string_view name)
{
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string upper(base);
    for (char& c : upper)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    for (const std::string_view device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
        if (upper == device) return upper;
    // COM0 ... COM9 and LPT0 ... LPT9, also with the superscripts 1, 2, 3 of
    // Windows-1252
    const std::string_view digits = "0123456789\xB9\xB2\xB3";
    if (upper.size() == 4 && (upper.starts_with("COM") || upper.starts_with("LPT")) &&
        digits.find(upper[3]) != std::string_view::npos)
        return upper;
    return "";
}

void check_file_name(InputParser& parser, int record, std::string_view name)
{
    if (name.empty()) parser.fail(record, "o nome de arquivo está em branco");
    if (const std::string problem = file_name_problem(name, windows_file_names); !problem.empty())
        parser.fail(record, problem);
    if (is_reserved(name))
        parser.fail(record,
                    "o nome \"" + std::string(name) + "\" é de outro arquivo do programa e não pode ser usado aqui");
}

// Derives the sizes of every grid from those of grid 1; false
// when a count would leave the 32-bit integers.
bool derive_grid_sizes(InputParameters& in)
{
    constexpr std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    // with at least one real volume, grid 33 would have more than 2^31 volumes
    // per direction: refuse before creating the arrays
    if (in.grid_count > 32) return false;
    const auto k_max = static_cast<std::size_t>(in.grid_count);
    in.grids.nx.resize(k_max);
    in.grids.ny.resize(k_max);
    in.grids.volume_count.assign(k_max, 0);
    const std::int64_t first = std::int64_t{in.grids.nx[0]} * in.grids.ny[0];
    if (first > limit) return false;
    in.grids.volume_count[0] = static_cast<std::int32_t>(first);
    std::int64_t total = first;
    for (std::size_t k = 2; k <= k_max; ++k) {
        if (k - 1 >= 31) return false;
        const std::int64_t factor = std::int64_t{1} << (k - 1);
        const std::int64_t nx = (std::int64_t{in.grids.nx[0]} - 2) * factor + 2;
        const std::int64_t ny = (std::int64_t{in.grids.ny[0]} - 2) * factor + 2;
        if (nx > limit || ny > limit || nx * ny > limit) return false;
        total += nx * ny;
        if (total > limit) return false;
        in.grids.nx[k - 1] = static_cast<std::int32_t>(nx);
        in.grids.ny[k - 1] = static_cast<std::int32_t>(ny);
        in.grids.volume_count[k - 1] = static_cast<std::int32_t>(nx * ny);
    }
    in.grids.total_volume_count = static_cast<std::int32_t>(total);
    return true;
}

// Values the run computes with as read, but that are most likely mistakes. A
// record already warned about (a decimal comma) gets no second warning.
void warn_about_likely_mistakes(InputParser& parser, const InputParameters& in)
{
    const auto warn = [&](int record, const std::string& what) {
        if (!parser.warned(record)) parser.warn(record, "\"" + parser.text_of(record) + "\" " + what);
    };
    for (const int record : {4, 5}) {
        const double length = record == 4 ? in.lx : in.ly;
        if (!(length > 0.0) || !std::isfinite(length))
            warn(record, "não é um comprimento maior que zero: os resultados não terão sentido");
    }
    if (in.tolerance < 0.0)
        warn(9, "é negativa: a razão das normas nunca chega a ela e todas as iterações externas serão feitas");
    if (in.solver() == SolverKind::none)
        warn(11, "não é um solver (1 a 5): nenhum solver será executado e a temperatura fica zero");
    if (in.solver() == SolverKind::sor && !(in.sor_relaxation > 0.0 && in.sor_relaxation < 2.0))
        warn(14, "está fora do intervalo (0, 2): o SOR não converge");
    if (in.bc_kind != 1 && in.bc_kind != 2) warn(15, "não é 1 nem 2: lido como c.c. senoidal");
}

}  // namespace

std::string_view record_label(int record) { return labels[record]; }

std::string file_name_problem(std::string_view name, bool windows)
{
    const auto separator = [windows](char c) { return c == '/' || (windows && c == '\\'); };
    std::size_t start = name.size();
    while (start > 0 && !separator(name[start - 1])) --start;
    const std::string_view last = name.substr(start);
    if (last.empty() || last == "." || last == "..")
        return "o nome " + quote(name) + " é de uma pasta, não de um arquivo; escreva o nome de um arquivo";
    if (!windows) return "";
    // what follows is written elsewhere than the run's folder, or not as a file
    const std::string only_the_name =
        ": os arquivos da execução ficam na pasta do arquivo de entrada; escreva só o nome do arquivo";
    if (name.size() >= 2 && separator(name[0]) && separator(name[1]))
        return "o nome " + quote(name) + " é um caminho de rede ou de dispositivo do Windows (\\\\servidor\\, " +
               "\\\\?\\, \\\\.\\)" + only_the_name;
    const char first = name[0];
    if (name.size() >= 2 && name[1] == ':' && ((first >= 'A' && first <= 'Z') || (first >= 'a' && first <= 'z')))
        return "o nome " + quote(name) + " começa por uma unidade (" + quote(name.substr(0, 2)) + ")" + only_the_name;
    if (start > 0)
        return "o nome " + quote(name) + " tem uma pasta (" + quote(name.substr(0, start)) + ")" + only_the_name;
    if (const std::string device = windows_device(name); !device.empty())
        return "o nome " + quote(name) + " é o do dispositivo " + cp1252_to_utf8(device) +
               " do Windows (com qualquer extensão), não o de um arquivo; escolha outro nome";
    for (const char c : name)
        if (std::string_view("<>:\"|?*\t").find(c) != std::string_view::npos)
            return "o nome " + quote(name) + " tem o caractere " + (c == '\t' ? "tabulação" : quote({&c, 1})) +
                   ", que não pode estar num nome de arquivo no Windows; escolha outro nome";
    if (name.back() == '.')
        return "o nome " + quote(name) +
               " termina em ponto, e o Windows tira os pontos do fim de um nome; escreva o nome sem eles";
    return "";
}

InputParameters parse_input_data(std::string_view bytes, std::string_view file_name)
{
    InputParameters in;
    InputParser parser(bytes, file_name);
    parser.read_text(1, in.experiment_name);
    check_file_name(parser, 1, in.experiment_name.trimmed());
    parser.read_text(2, in.discretization_file_name);
    check_file_name(parser, 2, in.discretization_file_name.trimmed());
    if (in.discretization_file_name.trimmed() == in.experiment_name.trimmed())
        parser.fail(2, "o arquivo de resultados (discretização) não pode ter o mesmo nome do experimento");
    parser.read_text(3, in.iterations_file_name);
    in.lx = parser.read_double(4);
    in.ly = parser.read_double(5);
    in.grid_count = parser.read_integer(6);
    if (in.grid_count < 1)
        parser.fail(6, std::to_string(in.grid_count) + " está fora do intervalo permitido (1 ou mais malhas)");
    in.grids.nx.assign(1, 0);
    in.grids.ny.assign(1, 0);
    in.grids.nx[0] = parser.read_integer(7);
    if (in.grids.nx[0] < 3)
        parser.fail(7, std::to_string(in.grids.nx[0]) +
                           " está fora do intervalo permitido (3 ou mais, os dois volumes fictícios incluídos)");
    in.grids.ny[0] = parser.read_integer(8);
    if (in.grids.ny[0] < 3)
        parser.fail(8, std::to_string(in.grids.ny[0]) +
                           " está fora do intervalo permitido (3 ou mais, os dois volumes fictícios incluídos)");
    if (!derive_grid_sizes(in)) {
        // The largest number of grids whose counts still fit.
        InputParameters probe = in;
        int fits = 0;
        for (int k = 1; k <= 32; ++k) {
            probe.grid_count = k;
            if (!derive_grid_sizes(probe)) break;
            fits = k;
        }
        const std::string grid = std::to_string(in.grids.nx[0]) + " x " + std::to_string(in.grids.ny[0]);
        if (fits == 0)
            parser.fail(
                8, "a malha 1 de " + grid + " volumes excede o limite de 2147483647 volumes (inteiros de 32 bits)");
        throw FatalError(
            (file_name.empty()
                 ? value_place(6)
                 : "erro no arquivo \"" + std::string(file_name) + "\", linha " + std::to_string(parser.line_of(6)) +
                       ", parâmetro \"" + std::string(labels[6]) + "\"") +
            ": com a malha 1 de " + grid + " volumes, " + std::to_string(in.grid_count) +
            " malhas excedem o limite de 2147483647 volumes (inteiros de 32 bits); o intervalo permitido é de 1 a " +
            std::to_string(fits));
    }
    in.tolerance = parser.read_double(9);
    in.max_outer_iterations = parser.read_integer(10);
    in.solver_kind = parser.read_integer(11);
    in.msi_tolerance = parser.read_double(12);
    in.max_inner_iterations = parser.read_integer(13);
    if (in.solver() == SolverKind::msi && in.max_inner_iterations < 1)
        parser.fail(13, std::to_string(in.max_inner_iterations) +
                            " está fora do intervalo permitido para o solver MSI (1 ou mais)");
    in.sor_relaxation = parser.read_double(14);
    in.bc_kind = parser.read_integer(15);
    parser.read_text(16, in.title);
    in.record_line = parser.lines();
    in.record_span = parser.spans();
    warn_about_likely_mistakes(parser, in);
    in.warnings = parser.take_warnings();
    return in;
}

SolutionProblem InputParameters::solution_problem() const
{
    return {plate(),
            grids,
            {solver(), max_inner_iterations, msi_tolerance, sor_relaxation},
            tolerance,
            max_outer_iterations};
}

std::string replace_records(std::string_view bytes, const InputParameters& input,
                            const std::vector<std::pair<int, std::string>>& values)
{
    // from the last value in the file to the first, so that earlier spans stay
    std::vector<std::pair<int, std::string>> ordered = values;
    std::sort(ordered.begin(), ordered.end(), [&](const auto& a, const auto& b) {
        return input.record_span[static_cast<std::size_t>(a.first)].first >
               input.record_span[static_cast<std::size_t>(b.first)].first;
    });
    std::string out(bytes);
    for (const auto& [record, text] : ordered) {
        const auto [first, length] = input.record_span[static_cast<std::size_t>(record)];
        out.replace(first, length, text);
    }
    return out;
}

std::string default_input_file()
{
    constexpr std::string_view lines[] = {
        "placa.res         = nome do experimento numérico",
        "placa.dis         = nome do arquivo de resultados (discretização)",
        "placa.ite         = nome do arquivo de resultados (iterativos)",
        "1.0               = comprimento do domínio de cálculo na direção X",
        "1.0               = comprimento do domínio de cálculo na direção Y",
        "3                 = número de malhas",
        "6                 = número de volumes na direção X da malha 1",
        "6                 = número de volumes na direção Y da malha 1",
        "1.0e-6            = tolerância do problema",
        "1000              = número máximo de iterações externas",
        "2                 = solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI",
        "1.0e-3            = tolerância no MSI",
        "5                 = número máximo de iterações internas",
        "1.5               = coeficiente de relaxação do SOR",
        "1                 = 1:c.c.linear; 2:c.c.senoidal",
        "'Placa quadrada, c.c. linear'   = título",
    };
    std::string file;
    for (const auto line : lines) {
        file += to_cp1252(line);
        file += "\r\n";
    }
    return file;
}

double required_memory_bytes(const InputParameters& in, MultigridCycle cycle)
{
    return solution_memory_bytes(in.grids, SolverSettings{in.solver(), in.max_inner_iterations}, cycle);
}

double check_memory(const InputParameters& in, double available_bytes, std::string_view file_name, MultigridCycle cycle,
                    double option_bytes)
{
    const double needed = required_memory_bytes(in, cycle) + option_bytes;
    if (available_bytes <= 0.0 || needed <= available_bytes) return needed;
    const auto gib = [](double bytes) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f GiB", bytes / (1024.0 * 1024.0 * 1024.0));
        return std::string(text);
    };
    const int finest = in.grid_count;
    const std::string place = file_name.empty()
                                  ? "erro nos valores \"número de malhas\" e \"número de volumes\""
                                  : "erro no arquivo \"" + std::string(file_name) + "\", linhas " +
                                        std::to_string(in.record_line[6]) + " a " + std::to_string(in.record_line[8]) +
                                        ", parâmetros \"número de malhas\" e \"número de volumes\"";
    throw FatalError(place + ": a malha mais fina de " + std::to_string(in.grids.nx_of(finest)) + " x " +
                     std::to_string(in.grids.ny_of(finest)) + " volumes precisa de " + gib(needed) +
                     " de memória, e esta máquina tem " + gib(available_bytes));
}

}  // namespace placatermo
