// The progress line of a long run: its text, when it shows, and the time
// left it estimates, with a clock and a terminal under the test's control.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "platform/platform.hpp"
#include "run/progress.hpp"

namespace placatermo {
namespace {

TEST(Progress, DurationText)
{
    const std::pair<double, const char*> table[] = {
        {0.0, "0 s"},           {0.4, "0 s"},          {59.4, "59 s"},
        {59.6, "1 min 00 s"},   {125.0, "2 min 05 s"}, {3599.0, "59 min 59 s"},
        {3725.0, "1 h 02 min"}, {-3.0, "0 s"},
    };
    for (const auto& [seconds, text] : table) EXPECT_EQ(duration_text(seconds), text) << seconds;
}

TEST(Progress, LineText)
{
    EXPECT_EQ(progress_text(1234, 3.456e-5, 1e-10, 12.2, std::nullopt),
              "iteração 1234: razão 3.46E-05 (tolerância 1.00E-10), 12 s");
    EXPECT_EQ(progress_text(7, 0.5, 1e-6, 61.0, 40.0),
              "iteração 7: razão 5.00E-01 (tolerância 1.00E-06), 1 min 01 s, faltam ~40 s");
    EXPECT_EQ(progress_text(7, NAN, 1e-6, 2.0, 0.2), "iteração 7: razão NAN (tolerância 1.00E-06), 2 s, falta <1 s");
}

TEST(Progress, FitToColumnsCountsCharactersNotBytes)
{
    const struct {
        const char* text;
        int columns;
        const char* fitted;
    } table[] = {
        {"iteração 12", 0, "iteração 12"},
        {"iteração 12", 6, "itera"},
        {"iteração 12", 7, "iteraç"},
        {"iteração 12", 9, "iteração"},
        {"iteração 12", 11, "iteração 1"},
        {"iteração 12", 80, "iteração 12"},
        {"", 5, ""},
    };
    for (const auto& row : table) EXPECT_EQ(fit_to_columns(row.text, row.columns), row.fitted) << row.columns;
}

// A run reported at the given times (seconds from its start) with the given
// ratios: the lines the terminal received, "" for an erasure.
struct Step {
    double time;
    std::int32_t iteration;
    double ratio;
};
std::vector<std::string> shown(const std::vector<Step>& steps, double tolerance, std::int32_t max_outer)
{
    std::vector<std::string> lines;
    double now = 100.0;
    {
        ProgressLine progress([&now] { return now; }, [&lines](std::string_view line) { lines.emplace_back(line); },
                              tolerance, max_outer);
        for (const auto& step : steps) {
            now = 100.0 + step.time;
            progress.update(step.iteration, step.ratio);
        }
    }
    return lines;
}

TEST(Progress, NothingDuringTheFirstSecond)
{
    EXPECT_EQ(shown({{0.1, 1, 1.0}, {0.5, 2, 0.5}, {0.99, 3, 0.25}}, 1e-6, 100), std::vector<std::string>{});
}

TEST(Progress, ShownAfterASecondRewrittenAtMostFiveTimesASecondErasedAtTheEnd)
{
    // the ratio goes up and down: no estimate
    EXPECT_EQ(shown({{0.5, 1, 1.0}, {1.0, 2, 2.0}, {1.1, 3, 1.0}, {1.25, 4, 3.0}, {2.0, 5, 1.0}}, 1e-6, 100),
              (std::vector<std::string>{"iteração 2: razão 2.00E+00 (tolerância 1.00E-06), 1 s",
                                        "iteração 4: razão 3.00E+00 (tolerância 1.00E-06), 1 s",
                                        "iteração 5: razão 1.00E+00 (tolerância 1.00E-06), 2 s", ""}));
}

TEST(Progress, TimeLeftOnceTheRatioFallsSteadily)
{
    // a tenth a second: from 1e-4 at 4 s, two more seconds to 1e-6
    const std::vector<Step> falling = {{1.0, 10, 1e-1}, {2.0, 20, 1e-2}, {3.0, 30, 1e-3}, {4.0, 40, 1e-4}};
    EXPECT_EQ(shown(falling, 1e-6, 1000),
              (std::vector<std::string>{"iteração 10: razão 1.00E-01 (tolerância 1.00E-06), 1 s",
                                        "iteração 20: razão 1.00E-02 (tolerância 1.00E-06), 2 s",
                                        "iteração 30: razão 1.00E-03 (tolerância 1.00E-06), 3 s",
                                        "iteração 40: razão 1.00E-04 (tolerância 1.00E-06), 4 s, faltam ~2 s", ""}));
    // the last outer iteration allowed comes first: 4 more at 0.1 s each
    EXPECT_EQ(shown(falling, 1e-6, 44).at(3), "iteração 40: razão 1.00E-04 (tolerância 1.00E-06), 4 s, falta <1 s");
    EXPECT_EQ(shown(falling, 1e-6, 60).at(3), "iteração 40: razão 1.00E-04 (tolerância 1.00E-06), 4 s, faltam ~2 s");
    // a rise starts the count again; a NaN too
    const std::vector<Step> rising = {{1.0, 10, 1e-1}, {2.0, 20, 1e-2}, {3.0, 30, 1e-1}, {4.0, 40, 1e-2},
                                      {5.0, 50, 1e-3}, {6.0, 60, NAN},  {7.0, 70, 1e-4}};
    for (const auto& line : shown(rising, 1e-6, 1000)) EXPECT_EQ(line.find("falta"), std::string::npos) << line;
    // without a tolerance, only the last outer iteration bounds it
    EXPECT_EQ(shown(falling, 0.0, 50).at(3), "iteração 40: razão 1.00E-04 (tolerância 0.00E+00), 4 s, faltam ~1 s");
}

}  // namespace
}  // namespace placatermo
