#pragma once
// Sets (or, without a value, removes) an environment variable for a scope and puts the old value
// back afterwards.
#include <cstdlib>
#include <optional>
#include <string>

class TScopedEnvironment {
 public:
  TScopedEnvironment(const char* Name, const std::optional<std::string>& Value) : Name(Name) {
    if (const char* Old = std::getenv(Name)) Previous = Old;
    if (Value) ::setenv(Name, Value->c_str(), 1);
    else ::unsetenv(Name);
  }
  ~TScopedEnvironment() {
    if (Previous) ::setenv(Name, Previous->c_str(), 1);
    else ::unsetenv(Name);
  }
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

 private:
  const char* Name;
  std::optional<std::string> Previous;
};
