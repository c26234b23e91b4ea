// AddressSanitizer's defaults for every fuzz target. Its quarantine keeps
// freed blocks from reuse up to 256 MB by default; libFuzzer reallocates its
// corpus tables at every new feature, in sizes that grow with the corpus, and
// each size class the quarantine passes through keeps its pages. A long run
// then grew by hundreds of MB with nothing live. The quarantine counts the
// bytes asked for, while even a block of one byte takes 32 of the heap: the
// parse target frees millions of blocks of a few bytes (the bytes each change
// to a binary gathers), so 16 MB of quarantine held some 300 MB.
//
// What a size class has once held it keeps mapped, and the quarantine is
// what fills a class: while an input frees blocks of one size the whole
// quarantine may be of that size. So the heap grows towards the quarantine
// times the size classes the inputs pass through, which a long parse run
// reaches one class after another: with 4 MB the heap went from 55 to 148 MB
// in five minutes while 33 MB were live. 1 MB still holds many inputs' worth
// of frees (the runtime poisons its own frames besides), so a use after free
// within an input is still caught.
//
// A class also keeps the pages of a single input's peak. The allocator gives
// the free pages of its classes back to the system every half second, so a
// long run's size is its live memory plus the last peaks, not the sum of
// every class's highest use: in 10 minutes the parse target reached 171 MB
// without this and 120 MB with it. ASAN_OPTIONS overrides both.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=1:allocator_release_to_os_interval_ms=500";
}
