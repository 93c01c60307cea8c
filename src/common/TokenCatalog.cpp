#include "common/TokenCatalog.h"

#include <dlfcn.h>
#include <unistd.h>
#include <libp11.h>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <ctime>
#include <initializer_list>
#include <utility>

namespace {
// libp11 and libcrypto are loaded on first use, so that programs which link this file but never
// look at a token (signtool.exe with a PFX) start without them.
struct TLibraries {
  decltype(&PKCS11_CTX_new) CtxNew = nullptr;
  decltype(&PKCS11_CTX_load) CtxLoad = nullptr;
  decltype(&PKCS11_CTX_unload) CtxUnload = nullptr;
  decltype(&PKCS11_CTX_free) CtxFree = nullptr;
  decltype(&PKCS11_enumerate_slots) EnumerateSlots = nullptr;
  decltype(&PKCS11_release_all_slots) ReleaseAllSlots = nullptr;
  decltype(&PKCS11_enumerate_certs) EnumerateCerts = nullptr;
  decltype(&PKCS11_enumerate_keys) EnumerateKeys = nullptr;
  decltype(&EVP_sha1) Sha1 = nullptr;
  decltype(&X509_digest) Digest = nullptr;
  decltype(&X509_get_subject_name) SubjectName = nullptr;
  decltype(&X509_get_issuer_name) IssuerName = nullptr;
  decltype(&X509_NAME_print_ex) PrintName = nullptr;
  decltype(&X509_NAME_get_text_by_NID) NameText = nullptr;
  decltype(&X509_get0_notAfter) NotAfter = nullptr;
  decltype(&ASN1_TIME_to_tm) TimeToTm = nullptr;
  decltype(&BIO_new) BioNew = nullptr;
  decltype(&BIO_s_mem) BioMemory = nullptr;
  decltype(&BIO_ctrl) BioCtrl = nullptr;
  decltype(&BIO_free) BioFree = nullptr;

  static const TLibraries* Load() {
    static const TLibraries Libraries = [] {
      TLibraries Loaded;
      void* P11 = ::dlopen("libp11.so.3", RTLD_NOW | RTLD_LOCAL);
      void* Crypto = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
      if (!P11 || !Crypto) return Loaded;
      Find(P11, "PKCS11_CTX_new", Loaded.CtxNew);
      Find(P11, "PKCS11_CTX_load", Loaded.CtxLoad);
      Find(P11, "PKCS11_CTX_unload", Loaded.CtxUnload);
      Find(P11, "PKCS11_CTX_free", Loaded.CtxFree);
      Find(P11, "PKCS11_enumerate_slots", Loaded.EnumerateSlots);
      Find(P11, "PKCS11_release_all_slots", Loaded.ReleaseAllSlots);
      Find(P11, "PKCS11_enumerate_certs", Loaded.EnumerateCerts);
      Find(P11, "PKCS11_enumerate_keys", Loaded.EnumerateKeys);
      Find(Crypto, "EVP_sha1", Loaded.Sha1);
      Find(Crypto, "X509_digest", Loaded.Digest);
      Find(Crypto, "X509_get_subject_name", Loaded.SubjectName);
      Find(Crypto, "X509_get_issuer_name", Loaded.IssuerName);
      Find(Crypto, "X509_NAME_print_ex", Loaded.PrintName);
      Find(Crypto, "X509_NAME_get_text_by_NID", Loaded.NameText);
      Find(Crypto, "X509_get0_notAfter", Loaded.NotAfter);
      Find(Crypto, "ASN1_TIME_to_tm", Loaded.TimeToTm);
      Find(Crypto, "BIO_new", Loaded.BioNew);
      Find(Crypto, "BIO_s_mem", Loaded.BioMemory);
      Find(Crypto, "BIO_ctrl", Loaded.BioCtrl);
      Find(Crypto, "BIO_free", Loaded.BioFree);
      return Loaded;
    }();
    return Libraries.Complete() ? &Libraries : nullptr;
  }

 private:
  bool Complete() const {
    return CtxNew && CtxLoad && CtxUnload && CtxFree && EnumerateSlots && ReleaseAllSlots && EnumerateCerts &&
           EnumerateKeys && Sha1 && Digest && SubjectName && IssuerName && PrintName && NameText && NotAfter &&
           TimeToTm && BioNew && BioMemory && BioCtrl && BioFree;
  }
  template <typename TFunction>
  static void Find(void* Library, const char* Name, TFunction& Function) {
    Function = reinterpret_cast<TFunction>(::dlsym(Library, Name));
  }
};

std::string Text(const char* Value) { return Value ? std::string(Value) : std::string(); }

std::string NameLine(const TLibraries& L, const X509_NAME* Name) {
  BIO* Memory = L.BioNew(L.BioMemory());
  if (!Memory) return {};
  std::string Result;
  if (L.PrintName(Memory, Name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
    char* Data = nullptr;
    const long Size = L.BioCtrl(Memory, BIO_CTRL_INFO, 0, &Data);
    if (Data && Size > 0) Result.assign(Data, static_cast<std::size_t>(Size));
  }
  L.BioFree(Memory);
  return Result;
}

std::string CommonName(const TLibraries& L, X509_NAME* Name) {
  char Buffer[256];
  const int Size = L.NameText(Name, NID_commonName, Buffer, sizeof(Buffer));
  return Size > 0 ? std::string(Buffer, static_cast<std::size_t>(Size)) : std::string();
}

std::string Thumbprint(const TLibraries& L, const X509* Certificate) {
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Size = 0;
  if (L.Digest(Certificate, L.Sha1(), Digest, &Size) != 1) return {};
  constexpr char Hex[] = "0123456789ABCDEF";
  std::string Result;
  for (unsigned int I = 0; I < Size; ++I) {
    Result += Hex[Digest[I] >> 4];
    Result += Hex[Digest[I] & 0x0F];
  }
  return Result;
}

std::string ExpiryOf(const TLibraries& L, const X509* Certificate) {
  std::tm Time{};
  if (L.TimeToTm(L.NotAfter(Certificate), &Time) != 1) return {};
  char Buffer[32];
  return std::strftime(Buffer, sizeof(Buffer), "%Y-%m-%d %H:%M:%S", &Time) ? std::string(Buffer) : std::string();
}

TTokenInfo InfoOf(const PKCS11_TOKEN& Token) {
  return {Text(Token.label), Text(Token.serialnr), Text(Token.manufacturer), Text(Token.model)};
}

void AddTokenCertificates(const TLibraries& L, PKCS11_TOKEN& Token, const PKCS11_KEY* Keys, unsigned int KeyCount,
                          std::vector<TTokenCertificate>& Into) {
  PKCS11_CERT* Certificates = nullptr;
  unsigned int Count = 0;
  if (L.EnumerateCerts(&Token, &Certificates, &Count) != 0) return;
  const TTokenInfo Info = InfoOf(Token);
  for (unsigned int I = 0; I < Count; ++I) {
    const PKCS11_CERT& Object = Certificates[I];
    if (!Object.x509) continue;
    TTokenCertificate Entry;
    Entry.TokenLabel = Info.Label;
    Entry.TokenSerial = Info.Serial;
    Entry.TokenManufacturer = Info.Manufacturer;
    Entry.TokenModel = Info.Model;
    Entry.Label = Text(Object.label);
    Entry.Id.assign(reinterpret_cast<const char*>(Object.id), Object.id ? Object.id_len : 0);
    Entry.Subject = NameLine(L, L.SubjectName(Object.x509));
    Entry.Issuer = NameLine(L, L.IssuerName(Object.x509));
    Entry.CommonName = CommonName(L, L.SubjectName(Object.x509));
    Entry.NotAfter = ExpiryOf(L, Object.x509);
    Entry.Sha1 = Thumbprint(L, Object.x509);
    Entry.PrivateKey = Token.loginRequired ? TKeyPresence::Unknown : TKeyPresence::Absent;
    for (unsigned int K = 0; K < KeyCount; ++K)
      if (Keys[K].id_len == Object.id_len && std::string_view(reinterpret_cast<const char*>(Keys[K].id), Keys[K].id_len) == Entry.Id)
        Entry.PrivateKey = TKeyPresence::Present;
    Into.push_back(std::move(Entry));
  }
}

// Calls Visit(Libraries, Token, Keys, KeyCount) for every present token that may hold a signing
// key: one that needs a login or shows a private key (Keys: those seen without a login).
// Whether the module could be loaded.
template <class TVisit>
bool ForEachSigningToken(const std::string& Module, TVisit Visit) {
  // libp11 would tell standard error about a module file that is not there.
  if (Module.find('/') != std::string::npos && ::access(Module.c_str(), R_OK) != 0) return false;
  const TLibraries* L = TLibraries::Load();
  if (!L) return false;
  PKCS11_CTX* Context = L->CtxNew();
  if (!Context) return false;
  if (L->CtxLoad(Context, Module.c_str()) != 0) {
    L->CtxFree(Context);
    return false;
  }
  PKCS11_SLOT* Slots = nullptr;
  unsigned int SlotCount = 0;
  if (L->EnumerateSlots(Context, &Slots, &SlotCount) == 0) {
    for (unsigned int I = 0; I < SlotCount; ++I) {
      PKCS11_TOKEN* Token = Slots[I].token;
      if (!Token || !Token->initialized) continue;
      PKCS11_KEY* Keys = nullptr;
      unsigned int KeyCount = 0;
      if (L->EnumerateKeys(Token, &Keys, &KeyCount) != 0) KeyCount = 0;
      if (Token->loginRequired || KeyCount > 0) Visit(*L, *Token, Keys, KeyCount);
    }
    L->ReleaseAllSlots(Context, Slots, SlotCount);
  }
  L->CtxUnload(Context);
  L->CtxFree(Context);
  return true;
}

// Whether each of the named attributes that Uri has is the value given.
bool AllFit(const TPkcs11Uri& Uri, std::initializer_list<std::pair<const char*, const std::string*>> Checked) {
  for (const auto& [Name, Value] : Checked) {
    const std::optional<std::string> Wanted = Uri.Get(Name);
    if (Wanted && *Wanted != *Value) return false;
  }
  return true;
}
}  // namespace

std::string DefaultPkcs11Module() { return QUILLORY_PKCS11_PROXY_MODULE; }

std::string ModuleOf(const TPkcs11Uri& Uri) {
  const std::optional<std::string> Path = Uri.GetQuery("module-path");
  return Path && !Path->empty() ? *Path : DefaultPkcs11Module();
}

TTokenListing ListTokenCertificates(const std::string& Module) {
  TTokenListing Listing;
  Listing.ModuleLoaded = ForEachSigningToken(
      Module, [&Listing](const TLibraries& L, PKCS11_TOKEN& Token, const PKCS11_KEY* Keys, unsigned int KeyCount) {
        AddTokenCertificates(L, Token, Keys, KeyCount, Listing.Certificates);
      });
  return Listing;
}

TTokenList ListSigningTokens(const std::string& Module) {
  TTokenList List;
  List.ModuleLoaded = ForEachSigningToken(
      Module, [&List](const TLibraries&, PKCS11_TOKEN& Token, const PKCS11_KEY*, unsigned int) {
        List.Tokens.push_back(InfoOf(Token));
      });
  return List;
}

TPkcs11Uri UriOf(const TTokenCertificate& Certificate) {
  TPkcs11Uri Uri;
  Uri.Set("token", Certificate.TokenLabel);
  if (!Certificate.Id.empty())
    Uri.Set("id", Certificate.Id);
  else
    Uri.Set("object", Certificate.Label);
  return Uri;
}

bool UriSelectsToken(const TPkcs11Uri& Uri, const TTokenInfo& Token) {
  return AllFit(Uri, {{"token", &Token.Label}, {"serial", &Token.Serial}, {"manufacturer", &Token.Manufacturer},
                      {"model", &Token.Model}});
}

bool UriSelects(const TPkcs11Uri& Uri, const TTokenCertificate& Certificate) {
  return AllFit(Uri, {{"token", &Certificate.TokenLabel}, {"serial", &Certificate.TokenSerial},
                      {"manufacturer", &Certificate.TokenManufacturer}, {"model", &Certificate.TokenModel},
                      {"id", &Certificate.Id}, {"object", &Certificate.Label}});
}

std::string AmbiguousTokenText(const TPkcs11Uri& Uri, const std::vector<TTokenInfo>& Fitting) {
  const std::optional<std::string> Label = Uri.Get("token");
  std::string Text = Label ? "The token label \"" + *Label + "\" is ambiguous: " + std::to_string(Fitting.size()) +
                                 " present tokens carry it."
                           : "The token is ambiguous: " + std::to_string(Fitting.size()) +
                                 " present tokens could hold the key.";
  Text += " Name the one to use by its serial number in the URI: ";
  for (std::size_t I = 0; I < Fitting.size(); ++I)
    Text += (I == 0 ? "" : I + 1 == Fitting.size() ? " or " : ", ") + ("serial=" + Fitting[I].Serial);
  return Text + ".";
}
