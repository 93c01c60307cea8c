#pragma once
// For the life of the object, this process may map only 64 MiB more than it has mapped now: far
// too little for the 8 MiB stacks of a dozen threads. The sanitizers reserve terabytes of address
// space up front, so under them no limit can be set: tests check Possible first.
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

class TAddressSpaceLimit {
 public:
#if defined(__SANITIZE_ADDRESS__)
  static constexpr bool Possible = false;
#elif defined(__has_feature)
  static constexpr bool Possible = !__has_feature(address_sanitizer);
#else
  static constexpr bool Possible = true;
#endif

  TAddressSpaceLimit() {
    std::ifstream Statm("/proc/self/statm");
    unsigned long Pages = 0;
    Statm >> Pages;
    getrlimit(RLIMIT_AS, &Saved);
    rlimit Tight = Saved;
    Tight.rlim_cur = Pages * static_cast<unsigned long>(sysconf(_SC_PAGESIZE)) + 64 * 1024 * 1024;
    setrlimit(RLIMIT_AS, &Tight);
  }
  ~TAddressSpaceLimit() { setrlimit(RLIMIT_AS, &Saved); }
  TAddressSpaceLimit(const TAddressSpaceLimit&) = delete;
  TAddressSpaceLimit& operator=(const TAddressSpaceLimit&) = delete;

 private:
  rlimit Saved{};
};
