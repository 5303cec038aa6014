// The progress line of a long run: its text, when it shows, and the time
// left it estimates, with a clock and a terminal under the test's control.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
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

// The time left a shown line says, in seconds: nothing without one.
std::optional<double> said_left(const std::string& line)
{
    if (line.find(", falta <1 s") != std::string::npos) return 0.0;
    const auto at = line.find(", faltam ~");
    if (at == std::string::npos) return std::nullopt;
    const std::string rest = line.substr(at + 10);
    int a = 0, b = 0;
    if (std::sscanf(rest.c_str(), "%d h %d min", &a, &b) == 2) return 3600.0 * a + 60.0 * b;
    if (std::sscanf(rest.c_str(), "%d min %d s", &a, &b) == 2) return 60.0 * a + b;
    if (std::sscanf(rest.c_str(), "%d s", &a) == 1) return a;
    return std::nullopt;
}

// Histories with a line every 0.05 s to a tolerance of 1e-10, the logarithm
// of the ratio a function of time: the time left each line said against
// the real one. A steady fall is told right as soon as the window has it; a
// fall that slows down (fast for 2 s, then slow) is never promised at the
// first pace once the slower one shows (the two halves of the window
// disagree first, and the estimate waits); ratios with noise of half a
// decade neither make the estimate go up and down nor leave it wrong.
TEST(Progress, TimeLeftFromTheWindowsRateOfFall)
{
    const auto noise = [](int k) {  // a fixed sequence in [-1, 1]
        return std::sin(12.9898 * k) * 43758.5453 - std::floor(std::sin(12.9898 * k) * 43758.5453) - 0.5;
    };
    const struct {
        const char* name;
        std::function<double(double, int)> log10_ratio;  // of the time and line
        double end;                                      // when the tolerance is reached
        double trusted_from;                             // from when every estimate must hold
        double within;                                   // how far from the real time left, in part of it
        int rises;                                       // how often the estimate may go up by more than its rounding
    } table[] = {
        {"steady", [](double t, int) { return -t; }, 10.0, 1.0, 0.1, 0},
        {"slows down", [](double t, int) { return t < 2.0 ? -2.0 * t : -4.0 - 0.2 * (t - 2.0); }, 32.0, 2.5, 0.2, 1},
        {"noisy", [&](double t, int k) { return -0.5 * t + noise(k); }, 20.0, 1.0, 0.35, 1},
    };
    for (const auto& c : table) {
        std::vector<Step> steps;
        for (int k = 1; 0.05 * k < c.end; ++k)
            steps.push_back({0.05 * k, k, std::pow(10.0, c.log10_ratio(0.05 * k, k))});
        const auto lines = shown(steps, 1e-10, 1000000);
        std::optional<double> first, previous;
        int rises = 0;
        for (std::size_t n = 0; n + 1 < lines.size(); ++n) {
            const auto left = said_left(lines[n]);
            int iteration = 0;
            ASSERT_EQ(std::sscanf(lines[n].c_str(), "iteração %d", &iteration), 1);
            const double t = 0.05 * iteration, real = c.end - t;
            if (!left) continue;
            if (!first) first = t;
            if (t >= c.trusted_from) {
                EXPECT_NEAR(*left, real, c.within * real + 1.0) << c.name << " at " << t << " s";
            }
            rises += previous && *left > *previous + 1.0;
            previous = left;
        }
        EXPECT_LE(rises, c.rises) << c.name;
        ASSERT_TRUE(first) << c.name;
        EXPECT_LE(*first, 0.3 * c.end) << c.name;
    }
    // a ratio that stalls (a tolerance out of reach) gives no estimate but the
    // last outer iteration's; a ratio that does not fall, none
    std::vector<Step> flat;
    for (int k = 1; k <= 100; ++k) flat.push_back({0.05 * k, k, 1e-3 * (1.0 + 0.01 * (k % 3))});
    for (const auto& line : shown(flat, 1e-10, 1000000)) EXPECT_FALSE(said_left(line)) << line;
}

}  // namespace
}  // namespace placatermo
