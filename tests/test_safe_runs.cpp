// The real program under hostile names and faults: titles that try to run
// gnuplot commands, names that are one file under another spelling, a disk
// that fills up, and two runs at once in one folder.
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <map>
#include <sys/wait.h>
#include <thread>

#include "cli_support.hpp"

namespace placatermo {
namespace {

using testing::InputRecords;
using testing::Outcome;
using testing::read_file;
using testing::run_program;
using testing::TempDir;
using testing::write_file;

bool has_gnuplot() { return std::system("command -v gnuplot >/dev/null 2>&1") == 0; }

// With the real gnuplot: whatever the title holds, both plots are drawn and
// nothing in it is run.
class HostileTitle : public ::testing::TestWithParam<const char*> {};

TEST_P(HostileTitle, DrawsThePlotsAndRunsNothing)
{
    if (!has_gnuplot()) GTEST_SKIP() << "sem gnuplot";
    TempDir dir;
    InputRecords r;
    r.title = GetParam();
    write_file("placatermo.ent", r.text("\r\n"));
    const Outcome o = run_program("--batch", "PATH=/usr/bin:/bin");
    EXPECT_EQ(o.exit_code, 0) << o.err;
    for (const char* picture : {"Tx.png", "Ty.png"}) {
        const std::string bytes = read_file(picture);
        EXPECT_EQ(bytes.substr(0, 8), "\x89PNG\r\n\x1a\n") << picture;
        EXPECT_GT(bytes.size(), 5000u) << picture;
    }
    EXPECT_FALSE(std::filesystem::exists("PWNED"));
}

INSTANTIATE_TEST_SUITE_P(Titles, HostileTitle,
                         ::testing::Values("\"Placa d'\xE1gua\"", "\"a'; system('touch PWNED'); x='\"",
                                           "\"x' . system('touch PWNED') . '\"", "\"'\"",
                                           "\"`touch PWNED` '; !touch PWNED\"",
                                           "\"''''''''''''''''''''''''''''''''''''''''''''''''''\""));

}  // namespace
}  // namespace placatermo
