#include "keys/TokenCatalog.h"

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
std::string Text(const char* Value) { return Value ? std::string(Value) : std::string(); }

std::string NameLine(const X509_NAME* Name) {
  BIO* Memory = BIO_new(BIO_s_mem());
  if (!Memory) return {};
  std::string Result;
  if (X509_NAME_print_ex(Memory, Name, 0, XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB) >= 0) {
    char* Data = nullptr;
    const long Size = BIO_ctrl(Memory, BIO_CTRL_INFO, 0, &Data);
    if (Data && Size > 0) Result.assign(Data, static_cast<std::size_t>(Size));
  }
  BIO_free(Memory);
  return Result;
}

std::string CommonName(X509_NAME* Name) {
  char Buffer[256];
  const int Size = X509_NAME_get_text_by_NID(Name, NID_commonName, Buffer, sizeof(Buffer));
  return Size > 0 ? std::string(Buffer, static_cast<std::size_t>(Size)) : std::string();
}

std::string Thumbprint(const X509* Certificate) {
  unsigned char Digest[EVP_MAX_MD_SIZE];
  unsigned int Size = 0;
  if (X509_digest(Certificate, EVP_sha1(), Digest, &Size) != 1) return {};
  constexpr char Hex[] = "0123456789ABCDEF";
  std::string Result;
  for (unsigned int I = 0; I < Size; ++I) {
    Result += Hex[Digest[I] >> 4];
    Result += Hex[Digest[I] & 0x0F];
  }
  return Result;
}

std::string ExpiryOf(const X509* Certificate) {
  std::tm Time{};
  if (ASN1_TIME_to_tm(X509_get0_notAfter(Certificate), &Time) != 1) return {};
  char Buffer[32];
  return std::strftime(Buffer, sizeof(Buffer), "%Y-%m-%d %H:%M:%S", &Time) ? std::string(Buffer) : std::string();
}


void AddTokenCertificates(PKCS11_TOKEN& Token, const PKCS11_KEY* Keys, unsigned int KeyCount,
                          std::vector<TTokenCertificate>& Into) {
  PKCS11_CERT* Certificates = nullptr;
  unsigned int Count = 0;
  if (PKCS11_enumerate_certs(&Token, &Certificates, &Count) != 0) return;
  const TTokenInfo Info = TokenInfoOf(Token);
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
    Entry.Subject = NameLine(X509_get_subject_name(Object.x509));
    Entry.Issuer = NameLine(X509_get_issuer_name(Object.x509));
    Entry.CommonName = CommonName(X509_get_subject_name(Object.x509));
    Entry.NotAfter = ExpiryOf(Object.x509);
    Entry.Sha1 = Thumbprint(Object.x509);
    Entry.PrivateKey = Token.loginRequired ? TKeyPresence::Unknown : TKeyPresence::Absent;
    for (unsigned int K = 0; K < KeyCount; ++K)
      if (Keys[K].id_len == Object.id_len && std::string_view(reinterpret_cast<const char*>(Keys[K].id), Keys[K].id_len) == Entry.Id)
        Entry.PrivateKey = TKeyPresence::Present;
    Into.push_back(std::move(Entry));
  }
}

// Calls Visit(Token, Keys, KeyCount) for every present token that may hold a signing
// key: one that needs a login or shows a private key (Keys: those seen without a login).
// Whether the module could be loaded.
template <class TVisit>
bool ForEachSigningToken(const std::string& Module, TVisit Visit) {
  // libp11 would tell standard error about a module file that is not there.
  if (Module.find('/') != std::string::npos && ::access(Module.c_str(), R_OK) != 0) return false;
  PKCS11_CTX* Context = PKCS11_CTX_new();
  if (!Context) return false;
  if (PKCS11_CTX_load(Context, Module.c_str()) != 0) {
    PKCS11_CTX_free(Context);
    return false;
  }
  PKCS11_SLOT* Slots = nullptr;
  unsigned int SlotCount = 0;
  if (PKCS11_enumerate_slots(Context, &Slots, &SlotCount) == 0) {
    for (unsigned int I = 0; I < SlotCount; ++I) {
      PKCS11_TOKEN* Token = Slots[I].token;
      if (!Token || !Token->initialized) continue;
      PKCS11_KEY* Keys = nullptr;
      unsigned int KeyCount = 0;
      if (PKCS11_enumerate_keys(Token, &Keys, &KeyCount) != 0) KeyCount = 0;
      if (Token->loginRequired || KeyCount > 0) Visit(*Token, Keys, KeyCount);
    }
    PKCS11_release_all_slots(Context, Slots, SlotCount);
  }
  PKCS11_CTX_unload(Context);
  PKCS11_CTX_free(Context);
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

TTokenInfo TokenInfoOf(const PKCS11_TOKEN& Token) {
  return {Text(Token.label), Text(Token.serialnr), Text(Token.manufacturer), Text(Token.model)};
}

std::string DefaultPkcs11Module() { return QUILLORY_PKCS11_PROXY_MODULE; }

std::string ModuleOf(const TPkcs11Uri& Uri) {
  const std::optional<std::string> Path = Uri.GetQuery("module-path");
  return Path && !Path->empty() ? *Path : DefaultPkcs11Module();
}

TTokenListing ListTokenCertificates(const std::string& Module) {
  TTokenListing Listing;
  Listing.ModuleLoaded = ForEachSigningToken(
      Module, [&Listing](PKCS11_TOKEN& Token, const PKCS11_KEY* Keys, unsigned int KeyCount) {
        AddTokenCertificates(Token, Keys, KeyCount, Listing.Certificates);
      });
  return Listing;
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
