// What the platform's start-up does before main: on Windows, the runtime
// expands wildcard patterns in the arguments into the names of matching
// files, as the tool's users there expect, since their shell does not. A
// pattern that matches nothing is passed on as it is.
//
// mingw-w64's runtime expands them when the program defines _dowildcard;
// a Microsoft Visual C++ build links setargv.obj instead (src/CMakeLists.txt).

#if defined(__MINGW32__)
extern "C" {
extern int _dowildcard;
int _dowildcard = -1;
}
#endif
