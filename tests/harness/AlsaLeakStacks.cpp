// Under LeakSanitizer: the libraries that ALSA loads and unloads again leave
// allocations that only the full stack can attribute (.ci/lsan.supp). Linked
// into the tests that open the system sound card only, since full stacks
// slow every allocation.
extern "C" const char* __lsan_default_options() {
    return "fast_unwind_on_malloc=0";
}
