// Helpers shared by the tests: a platform whose commands, clock and date are
// under the test's control, a fresh working folder, and input files.
#pragma once

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "input/input.hpp"
#include "platform/platform.hpp"
#include "run/context.hpp"
#include "solvers/solver_kind.hpp"

namespace placatermo::testing {

inline std::string read_file(const std::filesystem::path& path);
inline void write_file(const std::filesystem::path& path, const std::string& bytes);

// The smallest files that pass for whole pictures.
inline const std::string whole_png =
    std::string("\x89PNG\r\n\x1a\n", 8) + std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12);
inline const std::string whole_gif = std::string("GIF89a\1\0\1\0\0\0\0;", 14);

// What a plotting program that works leaves: a whole picture for every
// "set output '...'" of the script.
inline void draw_outputs_of(const std::string& script)
{
    const std::string text = read_file(script);
    const std::string mark = "set output '";
    for (auto at = text.find(mark); at != std::string::npos; at = text.find(mark, at + 1)) {
        const auto start = at + mark.size();
        const std::string name = text.substr(start, text.find('\'', start) - start);
        write_file(name, name.ends_with(".gif") ? whole_gif : whole_png);
    }
}

class FakePlatform : public Platform {
public:
    std::vector<std::string> commands;
    std::string window_title;
    LocalTime time{2006, 7, 8, 9, 5, 7};
    double now = 100.0;
    double step = 0.25;  // seconds between clock readings
    int status = 0;

    bool draws = true;  // whether a plot command leaves its pictures

    int run_command(const std::string& command) override
    {
        commands.push_back(command);
        if (draws && command.starts_with("plot '")) draw_outputs_of(command.substr(6, command.find('\'', 6) - 6));
        return status;
    }
    std::string plot_errors;  // what a command says on its standard error, when it is caught
    int run_command_catching_errors(const std::string& command, std::string& errors) override
    {
        errors = plot_errors;
        return run_command(command);
    }
    LocalTime local_time() override { return time; }
    double clock_seconds() override
    {
        const double value = now;
        now += step;
        return value;
    }
    void set_window_title(std::string_view title) override { window_title = title; }
    std::string editor_command(std::string_view file_name) override { return "editor " + quote_for_shell(file_name); }
    std::string plot_command(std::string_view script) override { return "plot " + quote_for_shell(script); }
    std::vector<std::string> warnings;
    void warn(std::string_view message) override { warnings.emplace_back(message); }
    // programs (first words of a command) that cannot be found
    std::vector<std::string> missing;
    std::string missing_program(std::string_view command) override
    {
        const std::string word(command.substr(0, command.find(' ')));
        for (const auto& name : missing)
            if (name == word) return word;
        return {};
    }
};

// A name for a test made of the letters and digits of `text`.
inline std::string test_identifier(std::string_view text)
{
    std::string name;
    for (const char c : text)
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) name += c;
    return name;
}

// Parameterised tests over the solvers are named after the solver.
inline std::string solver_test_name(const ::testing::TestParamInfo<SolverKind>& info)
{
    return test_identifier(solver_name(info.param));
}

// Makes a fresh folder the working directory for the lifetime of the object.
class TempDir {
public:
    TempDir() : previous_(std::filesystem::current_path())
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "placatermo-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
        std::filesystem::current_path(path_);
    }
    ~TempDir()
    {
        std::filesystem::current_path(previous_);
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path previous_;
    std::filesystem::path path_;
};

inline std::string read_file(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// The 16 records of an input file, one value per line with LF line ends.
struct InputRecords {
    std::string experiment_name = "placa.res";
    std::string discretization_file_name = "placa.dis";
    std::string iterations_file_name = "placa.ite";
    std::string lx = "1.0", ly = "1.0";
    std::string grid_count = "1";
    std::string nx = "5", ny = "4";
    std::string tolerance = "1.0e-6";
    std::string max_outer_iterations = "1000";
    std::string solver_kind = "2";
    std::string msi_tolerance = "1.0e-3";
    std::string max_inner_iterations = "5";
    std::string sor_relaxation = "1.5";
    std::string bc_kind = "1";
    std::string title = "'Placa quadrada, c.c. linear'";

    std::vector<std::string> values() const
    {
        return {experiment_name,
                discretization_file_name,
                iterations_file_name,
                lx,
                ly,
                grid_count,
                nx,
                ny,
                tolerance,
                max_outer_iterations,
                solver_kind,
                msi_tolerance,
                max_inner_iterations,
                sor_relaxation,
                bc_kind,
                title};
    }
    std::string text(const std::string& line_end = "\n") const
    {
        std::string file;
        for (const auto& v : values()) file += v + "   = label" + line_end;
        return file;
    }
    InputParameters parse() const { return parse_input_data(text()); }
};

// A whole GIF of two 2 x 1 images: header, global colour table, a graphic
// control extension before each image, the trailer.
inline std::string small_gif()
{
    std::string gif("GIF89a\x02\x00\x01\x00\x80\x00\x00", 13);
    gif += std::string("\x00\x00\x00\xff\xff\xff", 6);
    for (int image = 0; image < 2; ++image) {
        gif += std::string("\x21\xf9\x04\x04\x0a\x00\x00\x00", 8);
        gif += std::string("\x2c\x00\x00\x00\x00\x02\x00\x01\x00\x00", 10);
        gif += std::string("\x02\x02\x44\x01\x00", 5);
    }
    return gif + ";";
}

}  // namespace placatermo::testing
