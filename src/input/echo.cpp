// The parameter echo of the main results file.
#include "input/input.hpp"

namespace placatermo {

void write_parameter_echo(const InputParameters& in, ByteSink& file)
{
    static const Layout echo(
        "(/, 'título = ', A50, /, /, TR5, 'DADOS', /, "
        "A20, '   = nome do experimento numérico', /, "
        "A20, '   = nome do arquivo de resultados (discretização)', /, "
        "A20, '   = nome do arquivo de resultados (iterativos)', /, "
        "E22.9, ' = comprimento do domínio de cálculo na direção X', /, "
        "E22.9, ' = comprimento do domínio de cálculo na direção Y', /, "
        "I8, TR12, '   = número de malhas', /, "
        "I8, TR12, '   = número de volumes na direção X (malha mais fina)', /, "
        "I8, TR12, '   = número de volumes na direção Y (malha mais fina)', /, "
        "I8, TR12, '   = número total de volumes (malha mais fina)', /, "
        "I8, TR12, '   = solver: 1=Jacobi; 2=Gauss-Seidel; 3=SOR; 4=ADI; 5=MSI', /, "
        "E22.9, ' = tolerância do problema', /, "
        "I8, TR12, '   = número máximo de iterações externas', /, "
        "E22.9, ' = tolerância no MSI', /, "
        "I8, TR12, '   = número máximo de iterações internas', /, "
        "E22.9, ' = coeficiente de relaxação do SOR', /, "
        "I8, TR12, '   = 1:c.c.linear; 2:c.c.senoidal')");
    const int finest = in.grid_count;
    file.write(echo,
               {in.title.view(), in.experiment_name.view(), in.discretization_file_name.view(),
                in.iterations_file_name.view(), in.lx, in.ly, in.grid_count, in.grids.nx_of(finest),
                in.grids.ny_of(finest), in.grids.volume_count_of(finest), in.solver_kind, in.tolerance,
                in.max_outer_iterations, in.msi_tolerance, in.max_inner_iterations, in.sor_relaxation, in.bc_kind});
}

}  // namespace placatermo
