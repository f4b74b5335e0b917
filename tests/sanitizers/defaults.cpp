// Sanitizer settings built into the sanitizer build, so that every process
// the tests start (the watchdog included) carries them without relying on
// the environment.
extern "C" {

// A finding ends the process with a status no test expects.
const char *__asan_default_options()
{
    return "detect_leaks=1:exitcode=86";
}

const char *__ubsan_default_options()
{
    return "print_stacktrace=1:halt_on_error=1:exitcode=86";
}

const char *__lsan_default_options()
{
    return "print_suppressions=0";
}

// Fontconfig's font cache, which the toolkit loads and never frees; the
// watchdog's own code allocates nothing.
const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

} // extern "C"
