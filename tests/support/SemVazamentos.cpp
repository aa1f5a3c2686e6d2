// For the test programs that run whole updates against servers, some of
// which they kill, and the connection tests, which lose connections on
// purpose: LeakSanitizer's own tracer can crash at exit while the client
// library's threads of lost or failed connections wind down (seen in the
// connection tests on a loaded machine, every time in one run). These
// programs keep AddressSanitizer and UndefinedBehaviorSanitizer but leave
// the leak check out; the statement, data set and script tests keep it, and
// so do the fuzz targets.
extern "C" const char *__asan_default_options()
{
    return "detect_leaks=0";
}
