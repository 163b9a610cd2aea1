// ThreadSanitizer sees only instrumented code: the test library's watchdog thread synchronises
// with the test inside uninstrumented Qt code, so its hand-overs look like races. Those reports
// are about Qt's internals, not about this program.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Test.so.6\n"
           "race:QWaitCondition::~QWaitCondition\n"
           "race:QWaitCondition::wakeAll\n";
}
#endif
