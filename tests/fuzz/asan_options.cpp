// AddressSanitizer's defaults for every fuzz target. Its quarantine keeps
// freed blocks from reuse up to 256 MB by default; libFuzzer reallocates its
// corpus tables at every new feature, in sizes that grow with the corpus, and
// each size class the quarantine passes through keeps its pages. A long run
// then grew by hundreds of MB with nothing live. 16 MB still holds thousands
// of inputs' worth of frees (the runtime poisons its own frames besides), so
// a use after free within an input is still caught. ASAN_OPTIONS overrides it.
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=16"; }
