// A date and time of day as the run's stamps show them.
#pragma once

namespace placatermo {

struct LocalTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

}  // namespace placatermo
