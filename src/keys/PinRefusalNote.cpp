#include "keys/PinRefusalNote.h"

#include <openssl/evp.h>
#include <sys/random.h>
#include <time.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string_view>

#include "keys/RunLimit.h"

namespace {
using TSalt = std::array<unsigned char, 16>;
using TDigest = std::array<unsigned char, 32>;
// Makes trying PINs against a note slow; the note is taken only after a refusal.
constexpr int DigestRounds = 100000;

std::optional<TDigest> DigestOf(std::string_view Pin, const TSalt& Salt) {
  TDigest Digest{};
  if (PKCS5_PBKDF2_HMAC(Pin.data(), static_cast<int>(Pin.size()), Salt.data(), static_cast<int>(Salt.size()),
                        DigestRounds, EVP_sha256(), static_cast<int>(Digest.size()), Digest.data()) != 1)
    return std::nullopt;
  return Digest;
}

template <std::size_t Size>
std::string Hex(const std::array<unsigned char, Size>& Bytes) {
  std::string Text;
  char Pair[3];
  for (unsigned char Byte : Bytes) {
    std::snprintf(Pair, sizeof(Pair), "%02x", Byte);
    Text += Pair;
  }
  return Text;
}

template <std::size_t Size>
bool FromHex(const char* Text, std::array<unsigned char, Size>& Bytes) {
  for (std::size_t I = 0; I < Size; ++I) {
    unsigned int Byte = 0;
    if (std::sscanf(Text + 2 * I, "%2x", &Byte) != 1) return false;
    Bytes[I] = static_cast<unsigned char>(Byte);
  }
  return true;
}

// Nanoseconds since the system started, on the clock the kernel gives a process's start in.
std::int64_t SinceBoot() {
  timespec Now{};
  ::clock_gettime(CLOCK_BOOTTIME, &Now);
  return std::int64_t{Now.tv_sec} * 1000000000 + Now.tv_nsec;
}

// When the parent created this process, which is before it could look at the token: a run that
// started while another was presenting its PIN counts as under way then, however long its own
// start took. Now when the system does not tell.
std::int64_t ProcessStart() {
  char Stat[1024] = {};
  FILE* File = std::fopen("/proc/self/stat", "re");
  if (!File) return SinceBoot();
  const std::size_t Size = std::fread(Stat, 1, sizeof(Stat) - 1, File);
  std::fclose(File);
  // The fields after the command name, which may hold blanks and parentheses itself; the start
  // is the 22nd field, in clock ticks.
  const char* Rest = std::strrchr(Stat, ')');
  unsigned long long Ticks = 0;
  if (Size == 0 || !Rest ||
      std::sscanf(Rest + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                  &Ticks) != 1)
    return SinceBoot();
  return static_cast<std::int64_t>(Ticks * (1000000000ull / static_cast<unsigned long long>(::sysconf(_SC_CLK_TCK))));
}

void Write(int LockFile, const std::string& Line) {
  if (::ftruncate(LockFile, 0) == 0) (void)!::pwrite(LockFile, Line.data(), Line.size(), 0);
}
}  // namespace

TPinRefusal RefusalNotedMeanwhile(int LockFile, std::string_view Pin) {
  char Line[160] = {};
  if (LockFile < 0 || ::pread(LockFile, Line, sizeof(Line) - 1, 0) <= 0) return TPinRefusal::None;
  char Kind[8] = {}, SaltText[2 * sizeof(TSalt) + 1] = {}, DigestText[2 * sizeof(TDigest) + 1] = {};
  std::int64_t NotedAt = 0;
  const int Fields = std::sscanf(Line, "%7s %" SCNd64 " %32s %64s", Kind, &NotedAt, SaltText, DigestText);
  if (Fields < 2) return TPinRefusal::None;
  if (NotedAt < SinceBoot() - std::chrono::nanoseconds(WholeRunTimeLimit).count()) {
    Write(LockFile, {});
    return TPinRefusal::None;
  }
  if (NotedAt <= ProcessStart()) return TPinRefusal::None;
  if (std::string_view(Kind) == "locked") return TPinRefusal::Locked;
  TSalt Salt{};
  TDigest Noted{};
  if (std::string_view(Kind) != "wrong" || Fields != 4 || !FromHex(SaltText, Salt) || !FromHex(DigestText, Noted))
    return TPinRefusal::None;
  return DigestOf(Pin, Salt) == Noted ? TPinRefusal::Wrong : TPinRefusal::None;
}

void NoteRefusal(int LockFile, TPinRefusal Refusal, std::string_view Pin) {
  if (LockFile < 0) return;
  const std::string At = std::to_string(SinceBoot());
  if (Refusal == TPinRefusal::Locked) {
    Write(LockFile, "locked " + At + "\n");
    return;
  }
  TSalt Salt{};
  if (Refusal != TPinRefusal::Wrong || ::getrandom(Salt.data(), Salt.size(), 0) != static_cast<ssize_t>(Salt.size()))
    return;
  if (const std::optional<TDigest> Digest = DigestOf(Pin, Salt))
    Write(LockFile, "wrong " + At + " " + Hex(Salt) + " " + Hex(*Digest) + "\n");
}
