// Two doubles operated on together (a GCC and Clang vector), for kernels
// written out in pairs where the compiler's own vector loop is slower (in
// WebAssembly): each lane rounds as the scalar operation would.
#pragma once

#include <cstdint>
#include <cstring>

namespace placatermo {

using Pair = double __attribute__((vector_size(16)));
using PairBits = std::uint64_t __attribute__((vector_size(16)));

inline Pair load_pair(const double* p)
{
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline Pair pair_of(double x) { return Pair{x, x}; }
// The first lanes of x and y: entries p[0] and p[2] from pairs at p and p + 2.
inline Pair first_lanes(Pair x, Pair y) { return __builtin_shufflevector(x, y, 0, 2); }

}  // namespace placatermo
