#include "keys/LockedTokenKey.h"

#include <optional>

#include "keys/PinRefusalNote.h"
#include "keys/TokenLock.h"

namespace {
// One lock per physical token, however it is reached: its serial number is the same through
// p11-kit's proxy and through the token's own module. Tokens without one share the module's lock.
std::string Identity(const std::string& Serial, const std::string& Module) {
  return Serial.empty() ? "module:" + Module : "serial:" + Serial;
}

// Why a lock in any state but Held cannot be used.
std::string LockProblem(const TTokenLock& Lock) {
  switch (Lock.State()) {
    case TTokenLock::TState::Held: break;
    case TTokenLock::TState::Refused: return Lock.Problem();
    case TTokenLock::TState::Expired: return TokenInUseUntilTheLimit;
    case TTokenLock::TState::Interrupted: return "Signing was interrupted.";
  }
  return {};
}

class TLockedTokenKey final : public TSigningKey {
 public:
  TLockedTokenKey(std::unique_ptr<TPkcs11Key> Key, std::string Token, TTokenTurns Turns)
      : Key(std::move(Key)), Token(std::move(Token)), Turns(std::move(Turns)) {}

  X509* Certificate() const override { return Key->Certificate(); }
  std::vector<X509*> Chain() const override { return Key->Chain(); }
  TKeySignature SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) override {
    const TTokenLock Lock(Token, Turns.Deadline(), Turns.Interruption);
    if (Lock.State() != TTokenLock::TState::Held) return {{}, LockProblem(Lock)};
    return Key->SignDigest(Digest, Md);
  }

 private:
  std::unique_ptr<TPkcs11Key> Key;
  std::string Token;
  TTokenTurns Turns;
};
}  // namespace

TLockedTokenOpening OpenLockedTokenKey(TPkcs11KeyRequest Request, TTokenTurns Turns) {
  const std::string_view Pin = Request.Pin;
  std::optional<TTokenLock> Lock;
  std::string Token;
  Request.BeforeLogin = [&](const TTokenInfo& Found) -> std::string {
    Token = Identity(Found.Serial, Request.Module);
    Lock.emplace(Token, Turns.Deadline(), Turns.Interruption);
    if (Lock->State() != TTokenLock::TState::Held) return LockProblem(*Lock);
    if (!Turns.HeedRefusalsNotedMeanwhile) return {};
    const TPinRefusal Refused = RefusalNotedMeanwhile(Lock->Descriptor(), Pin);
    return Refused == TPinRefusal::None ? std::string() : PinRefusalText(Refused, TMessageLanguage::English);
  };
  TPkcs11OpenResult Opened = OpenPkcs11Key(Request);
  if (Lock && Lock->State() == TTokenLock::TState::Held) {
    if (Opened.Failure == TPkcs11Failure::WrongPin) NoteRefusal(Lock->Descriptor(), TPinRefusal::Wrong, Pin);
    if (Opened.Failure == TPkcs11Failure::PinLocked) NoteRefusal(Lock->Descriptor(), TPinRefusal::Locked, Pin);
  }
  TLockedTokenOpening Result;
  Result.Interrupted = Lock && Lock->State() == TTokenLock::TState::Interrupted;
  if (!Opened.Key) {
    Result.Failure = Opened.Failure;
    Result.Message = std::move(Opened.Message);
    return Result;
  }
  Result.Key = std::make_unique<TLockedTokenKey>(std::move(Opened.Key), Token, std::move(Turns));
  return Result;
}
