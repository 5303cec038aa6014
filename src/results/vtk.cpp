// The temperature field as a VTK file (legacy format, binary), for ParaView
// and VisIt.
#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "base/text.hpp"
#include "results/results.hpp"

namespace placatermo {

namespace {

// Binary data of the legacy format: big-endian, whatever the machine.
template <typename T>
void append_big_endian(std::string& out, T value)
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    if constexpr (std::endian::native == std::endian::little) std::reverse(bytes, bytes + sizeof(T));
    out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

}  // namespace

std::string name_beside_results(std::string_view results_name, std::string_view summary_name,
                                std::string_view extension)
{
    const std::string results(results_name);
    const auto slash = results.find_last_of("/\\");
    const auto dot = results.rfind('.');
    const std::size_t name_start = slash == std::string::npos ? 0 : slash + 1;
    const bool has_extension = dot != std::string::npos && dot > name_start;
    std::string name = (has_extension ? results.substr(0, dot) : results) + std::string(extension);
    if (name == results || name == summary_name) name = results + std::string(extension);
    while (name == summary_name) name += extension;
    return name;
}

void write_vtk(ByteSink& file, const Plate& plate, const CurrentGrid& g, std::span<const double> t_values,
               std::string_view title)
{
    const std::int64_t nx = g.nx;
    const std::int64_t ny = g.ny;
    const From1<const double> t(t_values);
    std::string out = "# vtk DataFile Version 3.0\n";
    std::string header = cp1252_to_utf8(trim_right(title));
    for (char& c : header)
        if (c == '\n' || c == '\r') c = ' ';
    out += header.substr(0, 255) + "\n";
    // binary: every value to the last bit, NaN and infinities included
    out += "BINARY\nDATASET RECTILINEAR_GRID\n";
    out += "DIMENSIONS " + std::to_string(nx) + " " + std::to_string(ny) + " 1\n";
    out += "X_COORDINATES " + std::to_string(nx) + " double\n";
    for (std::int64_t i = 1; i <= nx; ++i) append_big_endian(out, node_position(i, nx, plate.lx, g.dx));
    out += "\nY_COORDINATES " + std::to_string(ny) + " double\n";
    for (std::int64_t j = 1; j <= ny; ++j) append_big_endian(out, node_position(j, ny, plate.ly, g.dy));
    out += "\nZ_COORDINATES 1 double\n";
    append_big_endian(out, 0.0);
    out += "\n";
    out += "POINT_DATA " + std::to_string(nx * ny) + "\n";

    const auto scalars = [&](const char* field, const char* type, auto value_at) {
        out += std::string("SCALARS ") + field + " " + type + " 1\nLOOKUP_TABLE default\n";
        for (std::int64_t j = 1; j <= ny; ++j) {
            const double y = node_position(j, ny, plate.ly, g.dy);
            for (std::int64_t i = 1; i <= nx; ++i) value_at(i, j, node_position(i, nx, plate.lx, g.dx), y);
            if (out.size() > (1 << 20)) {
                file.write(out);
                out.clear();
            }
        }
        out += "\n";
    };
    scalars("temperatura", "double", [&](std::int64_t i, std::int64_t j, double, double) {
        append_big_endian(out, t(volume_number(i, j, nx)));
    });
    scalars("temperatura_analitica", "double", [&](std::int64_t, std::int64_t, double x, double y) {
        append_big_endian(out, plate.analytical_temperature(x, y));
    });
    scalars("erro", "double", [&](std::int64_t i, std::int64_t j, double x, double y) {
        append_big_endian(out, t(volume_number(i, j, nx)) - plate.analytical_temperature(x, y));
    });
    scalars("contorno", "int", [&](std::int64_t i, std::int64_t j, double, double) {
        append_big_endian(out, std::int32_t{(i == 1 || i == nx || j == 1 || j == ny) ? 1 : 0});
    });
    file.write(out);
}

}  // namespace placatermo
