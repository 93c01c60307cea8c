#include "keys/Pkcs11Key.h"

#include <libp11.h>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ui.h>
#include <p11-kit/pkcs11.h>
#include <unistd.h>

#include <new>
#include <optional>

#include "common/PinRefusal.h"
#include "keys/TokenCatalog.h"

using TUiMethod = std::unique_ptr<UI_METHOD, TOpenSslFree<UI_destroy_method>>;

struct TPkcs11Key::TModule {
  PKCS11_CTX* Context = nullptr;
  bool Loaded = false;
  PKCS11_SLOT* Slots = nullptr;
  unsigned int SlotCount = 0;
  TUiMethod PinReader;

  TModule() = default;
  TModule(const TModule&) = delete;
  TModule& operator=(const TModule&) = delete;
  ~TModule() {
    // Closing the sessions ends the login; libp11 wipes its own copy of the PIN with the slots.
    if (Slots) PKCS11_release_all_slots(Context, Slots, SlotCount);
    if (Loaded) PKCS11_CTX_unload(Context);
    if (Context) PKCS11_CTX_free(Context);
  }
};

namespace {
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;

// The window words the refusals itself; signtool.exe says them in its user's language.
const std::string WrongPinText(PinRefusalText(TPinRefusal::Wrong, TMessageLanguage::English));
const std::string PinLockedText(PinRefusalText(TPinRefusal::Locked, TMessageLanguage::English));

TPkcs11OpenResult Failed(TPkcs11Failure Failure, std::string Message) { return {nullptr, Failure, std::move(Message)}; }

std::string Text(const char* Value) { return Value ? std::string(Value) : std::string(); }

// What libp11 reported about the last failure on this thread; the error queue is emptied.
struct TTokenError {
  std::optional<unsigned long> Code;  // the module's CKR_ value, when a PKCS#11 call failed
  std::string Reason;                 // the last error's text, empty when there is none
};

TTokenError TakeTokenError() {
  TTokenError Result;
  while (const unsigned long Error = ERR_get_error()) {
    if (ERR_GET_LIB(Error) == ERR_get_CKR_code()) Result.Code = ERR_GET_REASON(Error);
    Result.Reason = Text(ERR_reason_error_string(Error));
  }
  return Result;
}

std::optional<TPkcs11Failure> PinFailure(const TTokenError& Error) {
  if (!Error.Code) return std::nullopt;
  switch (*Error.Code) {
    case CKR_PIN_INCORRECT:
    case CKR_PIN_INVALID:
    case CKR_PIN_LEN_RANGE:
      return TPkcs11Failure::WrongPin;
    case CKR_PIN_LOCKED:
      return TPkcs11Failure::PinLocked;
    default:
      return std::nullopt;
  }
}

std::string WithReason(const std::string& Sentence, const TTokenError& Error) {
  return Error.Reason.empty() ? Sentence + "." : Sentence + ": " + Error.Reason + ".";
}

// libp11 asks its UI method for the PIN of a key that demands a login before every signature;
// this one answers with the PIN the key holds, handed over as the UI's user data.
int AnswerWithHeldPin(UI* Ui, UI_STRING* Prompt) {
  const UI_string_types Type = UI_get_string_type(Prompt);
  if (Type != UIT_PROMPT && Type != UIT_VERIFY) return 1;
  const auto* Pin = static_cast<const std::string*>(UI_get0_user_data(Ui));
  return Pin && UI_set_result(Ui, Prompt, Pin->c_str()) == 0 ? 1 : -1;
}

// A token that needs no login and shows no private key is a certificate store (the system's trust
// list that p11-kit's proxy offers, for one): it cannot sign.
bool MaySign(PKCS11_TOKEN& Token) {
  if (Token.loginRequired) return true;
  PKCS11_KEY* Keys = nullptr;
  unsigned int Count = 0;
  return PKCS11_enumerate_keys(&Token, &Keys, &Count) == 0 && Count > 0;
}

// The key's URI as the messages show it: without the module, marked as a private key.
std::string KeyUriText(TPkcs11Uri Uri) {
  Uri.Query.clear();
  Uri.Set("type", "private");
  return Uri.ToString();
}

std::string_view IdOf(const unsigned char* Id, std::size_t Length) {
  return Id ? std::string_view(reinterpret_cast<const char*>(Id), Length) : std::string_view();
}

bool Fits(const TPkcs11Uri& Uri, const PKCS11_KEY& Key) {
  const std::optional<std::string> Id = Uri.Get("id");
  const std::optional<std::string> Label = Uri.Get("object");
  return (!Id || *Id == IdOf(Key.id, Key.id_len)) && (!Label || *Label == Text(Key.label));
}

// The token's certificates that go with the key: those under its id, or under its label when
// it has no id.
std::vector<X509*> TokenCertificates(PKCS11_TOKEN& Token, const PKCS11_KEY& Key) {
  PKCS11_CERT* Certificates = nullptr;
  unsigned int Count = 0;
  if (PKCS11_enumerate_certs(&Token, &Certificates, &Count) != 0) return {};
  const std::string_view KeyId = IdOf(Key.id, Key.id_len);
  std::vector<X509*> Result;
  for (unsigned int I = 0; I < Count; ++I) {
    const PKCS11_CERT& Certificate = Certificates[I];
    const bool Pairs = KeyId.empty() ? Text(Certificate.label) == Text(Key.label)
                                     : IdOf(Certificate.id, Certificate.id_len) == KeyId;
    if (Pairs && Certificate.x509) Result.push_back(Certificate.x509);
  }
  return Result;
}

std::optional<std::vector<unsigned char>> PublicKeyDer(EVP_PKEY* Key) {
  unsigned char* Der = nullptr;
  const int Length = Key ? i2d_PUBKEY(Key, &Der) : 0;
  if (Length <= 0) {
    ERR_clear_error();
    return std::nullopt;
  }
  std::vector<unsigned char> Result(Der, Der + Length);
  OPENSSL_free(Der);
  return Result;
}

// The first certificate that holds the key's public key; the first of all when the token does
// not tell the public key (an EC key without its point). Null when none fits.
X509* Belonging(const std::vector<X509*>& Candidates, EVP_PKEY* Key) {
  const std::optional<std::vector<unsigned char>> Wanted = PublicKeyDer(Key);
  if (!Wanted) return Candidates.front();
  for (X509* Candidate : Candidates)
    if (PublicKeyDer(X509_get0_pubkey(Candidate)) == Wanted) return Candidate;
  return nullptr;
}

std::string SigningError(const TTokenError& Error) {
  if (const std::optional<TPkcs11Failure> Pin = PinFailure(Error))
    return *Pin == TPkcs11Failure::WrongPin ? WrongPinText : PinLockedText;
  if (Error.Code == CKR_DEVICE_REMOVED || Error.Code == CKR_TOKEN_NOT_PRESENT ||
      Error.Code == CKR_SESSION_HANDLE_INVALID || Error.Code == CKR_SESSION_CLOSED)
    return "The token was removed during the signing.";
  return WithReason("The key on the token failed to sign", Error);
}
}  // namespace

TPkcs11Key::TPkcs11Key(std::string_view Pin) : Pin(Pin) {}

TPkcs11Key::~TPkcs11Key() {
  Key.reset();
  Module.reset();
  OPENSSL_cleanse(Pin.data(), Pin.size());
}

std::vector<X509*> TPkcs11Key::Chain() const {
  std::vector<X509*> Result;
  for (const TX509& Other : Others) Result.push_back(Other.get());
  return Result;
}

TKeySignature TPkcs11Key::SignDigest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) {
  const std::lock_guard Lock(Signing);
  ERR_clear_error();
  // The key's methods are libp11's, so OpenSSL signs through them: PKCS#1 v1.5 with the digest's
  // DigestInfo for RSA (CKM_RSA_PKCS on the token), a DER ECDSA-Sig-Value for EC (CKM_ECDSA).
  const TKeyContext Context(EVP_PKEY_CTX_new(Key.get(), nullptr));
  std::size_t Length = 0;
  if (!Context || EVP_PKEY_sign_init(Context.get()) != 1 || EVP_PKEY_CTX_set_signature_md(Context.get(), Md) != 1 ||
      EVP_PKEY_sign(Context.get(), nullptr, &Length, Digest.data(), Digest.size()) != 1) {
    ERR_clear_error();
    return {{}, "The key on the token cannot sign with this digest algorithm."};
  }
  std::vector<std::uint8_t> Value(Length);
  if (EVP_PKEY_sign(Context.get(), Value.data(), &Length, Digest.data(), Digest.size()) != 1)
    return {{}, SigningError(TakeTokenError())};
  Value.resize(Length);
  return {std::move(Value), {}};
}

TPkcs11OpenResult OpenPkcs11Key(const TPkcs11KeyRequest& Request) {
  const std::string ModulePath = Request.Module.empty() ? ModuleOf(Request.Uri) : Request.Module;
  const std::string KeyUri = KeyUriText(Request.Uri);
  std::unique_ptr<TPkcs11Key> Result(new TPkcs11Key(Request.Pin));
  Result->Module = std::make_unique<TPkcs11Key::TModule>();
  TPkcs11Key::TModule& Module = *Result->Module;
  ERR_clear_error();

  // libp11 would tell standard error about a module file that is not there.
  if (ModulePath.find('/') != std::string::npos && ::access(ModulePath.c_str(), R_OK) != 0)
    return Failed(TPkcs11Failure::ModuleNotLoaded, "The PKCS#11 module could not be loaded: " + ModulePath);
  Module.Context = PKCS11_CTX_new();
  if (!Module.Context) throw std::bad_alloc();
  if (PKCS11_CTX_load(Module.Context, ModulePath.c_str()) != 0) {
    ERR_clear_error();
    return Failed(TPkcs11Failure::ModuleNotLoaded, "The PKCS#11 module could not be loaded: " + ModulePath);
  }
  Module.Loaded = true;
  Module.PinReader.reset(UI_create_method("PIN held by the key"));
  if (!Module.PinReader || UI_method_set_reader(Module.PinReader.get(), AnswerWithHeldPin) != 0 ||
      PKCS11_set_ui_method(Module.Context, Module.PinReader.get(), &Result->Pin) != 0)
    throw std::bad_alloc();

  if (PKCS11_enumerate_slots(Module.Context, &Module.Slots, &Module.SlotCount) != 0) {
    Module.Slots = nullptr;
    ERR_clear_error();
    return Failed(TPkcs11Failure::TokenNotFound, "No token holding the key is present: " + KeyUri);
  }
  std::vector<PKCS11_SLOT*> Fitting;
  std::vector<TTokenInfo> FittingTokens;
  for (unsigned int I = 0; I < Module.SlotCount; ++I) {
    PKCS11_TOKEN* Token = Module.Slots[I].token;
    if (!Token || !Token->initialized || !UriSelectsToken(Request.Uri, TokenInfoOf(*Token)) || !MaySign(*Token)) continue;
    Fitting.push_back(&Module.Slots[I]);
    FittingTokens.push_back(TokenInfoOf(*Token));
  }
  if (Fitting.empty()) return Failed(TPkcs11Failure::TokenNotFound, "No token holding the key is present: " + KeyUri);
  if (Fitting.size() > 1) return Failed(TPkcs11Failure::TokenAmbiguous, AmbiguousTokenText(Request.Uri, FittingTokens));
  PKCS11_SLOT& Slot = *Fitting.front();
  PKCS11_TOKEN& Token = *Slot.token;

  if (Request.BeforeLogin)
    if (std::string Refusal = Request.BeforeLogin(FittingTokens.front()); !Refusal.empty())
      return Failed(TPkcs11Failure::Refused, std::move(Refusal));
  if (Token.userPinLocked) return Failed(TPkcs11Failure::PinLocked, PinLockedText);
  if (Token.loginRequired) {
    // Trying no PIN would cost one of the token's few attempts; a PIN pad asks for it itself.
    if (Result->Pin.empty() && !Token.secureLogin)
      return Failed(TPkcs11Failure::PinNeeded, "The token \"" + Text(Token.label) + "\" needs its PIN, and none was given.");
    if (PKCS11_login(&Slot, 0, Result->Pin.empty() ? nullptr : Result->Pin.c_str()) != 0) {
      const TTokenError Error = TakeTokenError();
      const std::optional<TPkcs11Failure> Pin = PinFailure(Error);
      if (Pin) return Failed(*Pin, *Pin == TPkcs11Failure::WrongPin ? WrongPinText : PinLockedText);
      return Failed(TPkcs11Failure::LoginFailed, WithReason("The token refused the login", Error));
    }
  }

  PKCS11_KEY* Keys = nullptr;
  unsigned int KeyCount = 0;
  if (PKCS11_enumerate_keys(&Token, &Keys, &KeyCount) != 0) KeyCount = 0;
  PKCS11_KEY* Found = nullptr;
  for (unsigned int I = 0; I < KeyCount; ++I) {
    if (!Fits(Request.Uri, Keys[I])) continue;
    if (Found)
      return Failed(TPkcs11Failure::KeyAmbiguous,
                    "Several private keys on the token fit " + KeyUri + "; name the one to use by its id.");
    Found = &Keys[I];
  }
  if (!Found) return Failed(TPkcs11Failure::KeyNotFound, "The private key was not found on the token: " + KeyUri);
  Result->Key.reset(PKCS11_get_private_key(Found));
  const int Type = Result->Key ? EVP_PKEY_get_base_id(Result->Key.get()) : NID_undef;
  if (Type != EVP_PKEY_RSA && Type != EVP_PKEY_EC) {
    ERR_clear_error();
    return Failed(TPkcs11Failure::KeyUnsupported, "The private key on the token is neither an RSA nor an EC key: " + KeyUri);
  }

  const bool FromToken = Request.Certificates.empty();
  const std::vector<X509*> Candidates = FromToken ? TokenCertificates(Token, *Found) : Request.Certificates;
  if (Candidates.empty())
    return Failed(TPkcs11Failure::CertificateNotFound, "No certificates were found that met all the given criteria.");
  X509* Signer = Belonging(Candidates, Result->Key.get());
  if (!Signer)
    return Failed(TPkcs11Failure::CertificateMismatch,
                  (FromToken ? "The certificate on the token does not belong to the private key: "
                             : "The given certificate does not belong to the private key on the token: ") +
                      KeyUri);
  X509_up_ref(Signer);
  Result->Cert.reset(Signer);
  for (X509* Other : Request.Certificates) {
    if (Other == Signer) continue;
    X509_up_ref(Other);
    Result->Others.emplace_back(Other);
  }
  ERR_clear_error();
  return {std::move(Result), TPkcs11Failure::None, {}};
}
