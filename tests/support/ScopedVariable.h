#pragma once
// An environment variable set for a scope's duration, put back as it was afterwards.
#include <cstdlib>
#include <optional>
#include <string>

class TScopedVariable {
 public:
  TScopedVariable(std::string Name, const std::string& Value) : Name(std::move(Name)) {
    if (const char* Before = std::getenv(this->Name.c_str())) Previous = Before;
    ::setenv(this->Name.c_str(), Value.c_str(), 1);
  }
  ~TScopedVariable() { Previous ? ::setenv(Name.c_str(), Previous->c_str(), 1) : ::unsetenv(Name.c_str()); }
  TScopedVariable(const TScopedVariable&) = delete;
  TScopedVariable& operator=(const TScopedVariable&) = delete;

 private:
  std::string Name;
  std::optional<std::string> Previous;
};
