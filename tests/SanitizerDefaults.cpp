// The sanitizer settings of every test program that starts Qt WebEngine.
#ifndef __has_feature
#define __has_feature(Feature) 0  // gcc tells through __SANITIZE_ADDRESS__ instead
#endif
#if defined(__SANITIZE_ADDRESS__) || __has_feature(address_sanitizer)
// Qt WebEngine's own code deletes some objects through a pointer to a smaller base class. That
// is inside the system library and beyond our reach, so this one check stays off; ASAN_OPTIONS
// from the environment still applies on top.
extern "C" const char* __asan_default_options() { return "new_delete_type_mismatch=0"; }
// Allocations the system's font and browser libraries, and the PKCS#11 modules the token tests
// load, keep until exit are theirs, not ours.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libQt6WebEngineCore.so\nleak:libfontconfig.so\nleak:libQt6Gui.so\nleak:libQt6Core.so\n"
         "leak:libglib-2.0.so\nleak:libdbus-1.so\nleak:libsofthsm2.so\nleak:pkcs11-spy.so\nleak:libp11-kit.so\n";
}
#endif
