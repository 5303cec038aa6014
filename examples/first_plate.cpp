// The library as a front end calls it: the default plate solved, each
// history line counted as it comes, nothing written to a file.
#include <cstdio>

#include "experiment/experiment.hpp"

namespace {

class LineCounter final : public placatermo::SolutionObserver {
public:
    void history_line(std::int32_t, double) override { ++lines; }
    int lines = 0;
};

}  // namespace

int main()
{
    const placatermo::InputParameters input = placatermo::check_input_values(placatermo::default_input_values());
    LineCounter counter;
    const placatermo::Outcome outcome = placatermo::run_experiment(input, {}, &counter);
    std::printf("%d linhas do histórico, %d iterações, convergiu: %s, T média %.6f (analítica %.6f)\n", counter.lines,
                outcome.iterations, outcome.converged ? "sim" : "não", outcome.mean_numerical, outcome.mean_analytical);
    return counter.lines == outcome.iterations && outcome.converged ? 0 : 1;
}
