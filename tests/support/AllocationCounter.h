// Counting allocations: a test program that asks for the count gets the global operator new
// and delete replaced by counting ones (the replacement lives in the same object file, so only
// programs that use the count link it).
#pragma once

namespace test {

// Allocations made through operator new since the program started.
long AllocationCount();

}  // namespace test
