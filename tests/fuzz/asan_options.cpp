// AddressSanitizer's defaults for every fuzz target. Its quarantine keeps
// freed blocks from reuse up to 256 MB by default; libFuzzer reallocates its
// corpus tables at every new feature, in sizes that grow with the corpus, and
// each size class the quarantine passes through keeps its pages. A long run
// then grew by hundreds of MB with nothing live. The quarantine counts the
// bytes asked for, while even a block of one byte takes 32 of the heap: the
// parse target frees millions of blocks of a few bytes (the bytes each change
// to a binary gathers), so 16 MB of quarantine held some 300 MB and its run
// grew for ten minutes. 4 MB still holds many inputs' worth of frees (the
// runtime poisons its own frames besides), so a use after free within an
// input is still caught. ASAN_OPTIONS overrides it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=4"; }
