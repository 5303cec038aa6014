// How this build was configured, where code must know it.
#pragma once

namespace placatermo {

// Builds made to measure the fast program against the straightforward one
// (PLACATERMO_PLAIN_KERNELS) take the plain loops and printf formatting
// everywhere, factorise the MSI tables at every grid visit, keep to ordinary
// pages and write the field listing on one thread. This is the one switch
// the code tests for it.
#ifdef PLACATERMO_PLAIN_KERNELS
inline constexpr bool plain_kernels_only = true;
#else
inline constexpr bool plain_kernels_only = false;
#endif

}  // namespace placatermo
