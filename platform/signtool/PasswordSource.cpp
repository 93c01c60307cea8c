#include "PasswordSource.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "CommandOutput.h"

namespace {
constexpr std::size_t MaximumLength = 64 * 1024;

TPassword FromDescriptor(int Descriptor) {
  std::string Read;
  char Byte = 0;
  for (;;) {
    const ssize_t Got = ::read(Descriptor, &Byte, 1);
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0)
      return {std::nullopt, Say(TMessage::PasswordDescriptorUnreadable, {std::to_string(Descriptor), std::strerror(errno)})};
    if (Got == 0 || Byte == '\n') break;
    if (Read.size() == MaximumLength) return {std::nullopt, Say(TMessage::PasswordTooLong)};
    Read += Byte;
  }
  if (Read.ends_with('\r')) Read.pop_back();
  return {std::move(Read), {}};
}
}  // namespace

TPassword ReadPassword(const TSignOptions& Options) {
  if (Options.PasswordDescriptor >= 0) return FromDescriptor(Options.PasswordDescriptor);
  if (!Options.PasswordVariable.empty()) {
    const char* Value = std::getenv(Options.PasswordVariable.c_str());
    if (!Value) return {std::nullopt, Say(TMessage::PasswordVariableUnset, {Options.PasswordVariable})};
    return {std::string(Value), {}};
  }
  return {Options.Password, {}};
}
