#pragma once
// Sets (or, without a value, removes) an environment variable for a scope and puts the old value
// back afterwards.
#include <cstdlib>
#include <optional>
#include <string>

class TScopedEnvironment {
 public:
  TScopedEnvironment(std::string Name, const std::optional<std::string>& Value) : Name(std::move(Name)) {
    if (const char* Old = std::getenv(this->Name.c_str())) Previous = Old;
    if (Value) ::setenv(this->Name.c_str(), Value->c_str(), 1);
    else ::unsetenv(this->Name.c_str());
  }
  ~TScopedEnvironment() {
    if (Previous) ::setenv(Name.c_str(), Previous->c_str(), 1);
    else ::unsetenv(Name.c_str());
  }
  TScopedEnvironment(const TScopedEnvironment&) = delete;
  TScopedEnvironment& operator=(const TScopedEnvironment&) = delete;

 private:
  std::string Name;
  std::optional<std::string> Previous;
};
