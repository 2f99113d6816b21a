// The static executable never loads code at run time: extension loading is
// never enabled. The link redirects the SQLite library's one reference to
// the dynamic loader here (-Wl,--wrap=dlopen), so that the static build
// carries no path into glibc's static loader, which would need the build
// machine's shared libraries at run time.
extern "C" void *__wrap_dlopen(const char *, int) { return nullptr; }
