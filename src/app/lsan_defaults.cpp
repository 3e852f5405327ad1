// AddressSanitizer builds only: the program's own leak-check options. The program can end (the
// reboot's exit code 77) with Qt's offscreen screen objects alive, which scripts/lsan.supp
// suppresses by the plugin's name; only the slow unwinder follows an allocation's stack through Qt
// (built without frame pointers) to the plugin. The test programs end with their QApplication gone
// and keep the fast unwinder, which costs a tenth of the slow one on every allocation.
#if defined(VYR_ASAN)
extern "C" const char* __lsan_default_options()
{
    return "fast_unwind_on_malloc=0";
}
#endif
