// Values of the input given one by one, as a command line or another front
// end names them: the record by its number or by its name (the keys of the
// run record's "entrada", with nx and ny for the sizes of grid 1), and the
// solver and the boundary condition also by their names.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "input/input.hpp"

namespace placatermo {

// The record (1 ... 16) that a number or a name names; none for any other
// text.
std::optional<int> input_record_named(std::string_view name);

// The records' names in the order of the file (each record once).
std::vector<std::pair<int, std::string_view>> input_record_names();

// The names the values of a record may be given by ("jacobi", ...,
// "senoidal"), each with its number; none for the other records.
std::vector<std::pair<std::string_view, int>> input_value_names(int record);

// A value as the file holds it: a name of the record's values (in any case)
// as its number; a text record's value quoted and in Windows-1252; any other
// as given, for the reader to judge.
std::string input_value_text(int record, std::string_view value);

// "R=V", taken apart: the record and the value as given. A FatalError, its
// message starting with `argument`, when R names no record or V is empty,
// holds a control character or one that Windows-1252 lacks, or (outside the
// texts) a blank or a quote mark.
std::pair<int, std::string> input_setting(std::string_view text, std::string_view argument);

// The input file's bytes with the settings written in (the last of a record
// holds), every other byte kept; a value the reader refuses ends with its
// message, which names the file, the line and the parameter.
std::string input_with_settings(std::string_view bytes, std::string_view file_name,
                                const std::vector<std::pair<int, std::string>>& settings);

}  // namespace placatermo
