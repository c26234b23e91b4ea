// Ending the process below the language: the normal end and fatal runtime errors.
#pragma once

namespace kem {

// Process-heap blocks that live until exit (the cycle stack); heap series
// belong to the memory manager, which frees them when no value reaches them.
void register_heap_block(void* block);
void free_heap_blocks();

// The text of fatal runtime error n ("unknown error code!" for unknown numbers).
const char* runtime_error_text(int n);

// n = 0: frees the heap blocks and exits with status 0. Otherwise prints the
// "*** Runtime Error" report for n at the given code address, frees the heap
// blocks and exits with status n.
[[noreturn]] void report_runtime_error(int n, const void* address);

// Ends the process with a status of the language (quit, an uncaught error):
// output flushed, heap blocks freed, no report.
[[noreturn]] void exit_process(int status);

} // namespace kem
