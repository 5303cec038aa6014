// The summary results file: dx, the date, and the central and mean
// temperatures.
#include "base/text.hpp"
#include "results/results.hpp"

namespace placatermo {

void write_summary(ByteSink& file, std::span<const double> t, double mean, const CurrentGrid& grid,
                   std::string_view title, std::string_view date_string)
{
    static const Layout first("(E30.19, ' = dx', TR10, 'Dia = ', A12, /, /, I6, ' = número total de variáveis', /)");
    static const Layout central("(TR3, '''Temperatura Central, ', A50, '''', /, E30.19, ' = solução numérica', /)");
    static const Layout average("(TR3, '''T Média, ', A50, '''', /, E30.19, ' = solução numérica', /)");
    file.write(first, {grid.dx, date_string, std::int32_t{2}});
    file.write(central, {title, From1<const double>(t)(grid.center_index)});
    file.write(average, {title, mean});
}

}  // namespace placatermo
