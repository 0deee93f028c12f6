// Watches the program's 65,536-byte dump blocks from outside: the test
// binaries replace the array allocation functions, so the program itself
// carries no hook for tests.
#pragma once

namespace zuxtest {

// Makes the next `count` block allocations fail, as when memory runs out.
void failNextBlockTakes(int count);
// Blocks taken and not yet released.
int liveBlocks();

}  // namespace zuxtest
