// For the test programs that run whole updates against servers, some of
// which they kill: LeakSanitizer's own tracer can crash at exit while the
// client library's threads of lost or failed connections wind down. These
// programs keep AddressSanitizer and UndefinedBehaviorSanitizer but leave
// the leak check out; the database layer's own tests keep it.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}
