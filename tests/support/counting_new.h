// A global operator new that counts, for programs that check that code allocates nothing.
// Linking counting_new.cpp replaces operator new for the whole program.
#pragma once

namespace torvik::testing {

// Allocations through operator new since the program started.
long allocation_count();

}  // namespace torvik::testing
