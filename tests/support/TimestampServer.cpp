#include "support/TimestampServer.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pem.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>
#include <thread>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "support/TestPki.h"

namespace {
template <typename T, void (*Free)(T*)>
struct TDeleter {
  void operator()(T* Object) const { Free(Object); }
};
template <typename T, void (*Free)(T*)>
using TOwned = std::unique_ptr<T, TDeleter<T, Free>>;

using TBio = TOwned<BIO, BIO_free_all>;
using TX509 = TOwned<X509, X509_free>;
using TKey = TOwned<EVP_PKEY, EVP_PKEY_free>;
using TPkcs7 = TOwned<PKCS7, PKCS7_free>;
using TTsContext = TOwned<TS_RESP_CTX, TS_RESP_CTX_free>;
using TTsResponse = TOwned<TS_RESP, TS_RESP_free>;
using TObject = TOwned<ASN1_OBJECT, ASN1_OBJECT_free>;

TBio OpenFile(const std::string& Path) {
  TBio File(BIO_new_file(Path.c_str(), "r"));
  if (!File) throw std::runtime_error("cannot open " + Path);
  return File;
}

std::string BioContents(BIO* Bio) {
  char* Data = nullptr;
  const long Length = BIO_get_mem_data(Bio, &Data);
  return Length > 0 ? std::string(Data, static_cast<std::size_t>(Length)) : std::string();
}

std::optional<std::string> DecodeBase64(const std::string& Text) {
  std::string Clean;
  for (char C : Text)
    if (C != '\r' && C != '\n' && C != ' ' && C != '\t') Clean += C;
  if (Clean.empty() || Clean.size() % 4 != 0) return std::nullopt;
  std::string Bytes(Clean.size() / 4 * 3, '\0');
  const int Length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(Bytes.data()),
                                     reinterpret_cast<const unsigned char*>(Clean.data()),
                                     static_cast<int>(Clean.size()));
  if (Length < 0) return std::nullopt;
  // EVP_DecodeBlock counts the padding as output bytes.
  std::size_t Size = static_cast<std::size_t>(Length);
  for (std::size_t I = Clean.size(); I > 0 && Clean[I - 1] == '='; --I) --Size;
  Bytes.resize(Size);
  return Bytes;
}

std::string EncodeBase64(const std::string& Bytes) {
  std::string Text(4 * ((Bytes.size() + 2) / 3) + 1, '\0');
  const int Length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(Text.data()),
                                     reinterpret_cast<const unsigned char*>(Bytes.data()),
                                     static_cast<int>(Bytes.size()));
  Text.resize(static_cast<std::size_t>(Length));
  return Text;
}

// One DER element: its tag and the bytes of its content.
struct TDerElement {
  std::uint8_t Tag = 0;
  std::string_view Content;
};

// Reads the element at the front of Der and removes it from Der. Single-byte tags and definite
// lengths only, which is all a time-stamp request uses.
std::optional<TDerElement> TakeElement(std::string_view& Der) {
  if (Der.size() < 2) return std::nullopt;
  TDerElement Element;
  Element.Tag = static_cast<std::uint8_t>(Der[0]);
  std::size_t Length = static_cast<std::uint8_t>(Der[1]);
  std::size_t Pos = 2;
  if (Length & 0x80) {
    const std::size_t LengthBytes = Length & 0x7F;
    if (LengthBytes == 0 || LengthBytes > 4 || Der.size() < Pos + LengthBytes) return std::nullopt;
    Length = 0;
    for (std::size_t I = 0; I < LengthBytes; ++I) Length = (Length << 8) | static_cast<std::uint8_t>(Der[Pos++]);
  }
  if (Length > Der.size() - Pos) return std::nullopt;
  Element.Content = Der.substr(Pos, Length);
  Der.remove_prefix(Pos + Length);
  return Element;
}

constexpr std::uint8_t DerSequence = 0x30;
constexpr std::uint8_t DerOctetString = 0x04;
constexpr std::uint8_t DerExplicit0 = 0xA0;

// The signature bytes an Authenticode time-stamp request carries:
// SEQUENCE { type OID, [attributes,] ContentInfo SEQUENCE { data OID, [0] { OCTET STRING } } }.
std::optional<std::string> AuthenticodeRequestContent(const std::string& Der) {
  std::string_view Rest = Der;
  const std::optional<TDerElement> Request = TakeElement(Rest);
  if (!Request || Request->Tag != DerSequence) return std::nullopt;
  std::string_view Fields = Request->Content;
  std::optional<TDerElement> ContentInfo;
  while (!Fields.empty()) {
    ContentInfo = TakeElement(Fields);
    if (!ContentInfo) return std::nullopt;
  }
  if (!ContentInfo || ContentInfo->Tag != DerSequence) return std::nullopt;
  std::string_view Info = ContentInfo->Content;
  const std::optional<TDerElement> Type = TakeElement(Info);
  const std::optional<TDerElement> Explicit = TakeElement(Info);
  if (!Type || !Explicit || Explicit->Tag != DerExplicit0) return std::nullopt;
  std::string_view Inner = Explicit->Content;
  const std::optional<TDerElement> Data = TakeElement(Inner);
  if (!Data || Data->Tag != DerOctetString) return std::nullopt;
  return std::string(Data->Content);
}

ASN1_INTEGER* NextSerial(TS_RESP_CTX*, void* Counter) {
  ASN1_INTEGER* Serial = ASN1_INTEGER_new();
  if (Serial) ASN1_INTEGER_set(Serial, ++*static_cast<std::atomic<long>*>(Counter));
  return Serial;
}

int FixedTime(TS_RESP_CTX*, void* Time, long* Seconds, long* Microseconds) {
  *Seconds = static_cast<long>(*static_cast<const std::int64_t*>(Time));
  *Microseconds = 0;
  return 1;
}

bool IsRfc3161(const THttpRequest& Request) {
  const auto Type = Request.Headers.find("content-type");
  return Type != Request.Headers.end() && Type->second == "application/timestamp-query";
}

// What a request asks to be time-stamped, the same each time the same signature is sent.
std::optional<std::string> StampedData(const THttpRequest& Request) {
  if (!IsRfc3161(Request)) {
    const std::optional<std::string> Der = DecodeBase64(Request.Body);
    return Der ? AuthenticodeRequestContent(*Der) : std::nullopt;
  }
  const auto* Bytes = reinterpret_cast<const unsigned char*>(Request.Body.data());
  TOwned<TS_REQ, TS_REQ_free> Query(d2i_TS_REQ(nullptr, &Bytes, static_cast<long>(Request.Body.size())));
  if (!Query) return std::nullopt;
  const ASN1_OCTET_STRING* Digest = TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(Query.get()));
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(Digest)),
                     static_cast<std::size_t>(ASN1_STRING_length(Digest)));
}
}  // namespace

struct TimestampServer::TSigner {
  TX509 Certificate;
  TKey Key;
  std::atomic<long> Serial = 0;
  std::optional<std::int64_t> StampTime;
  std::mutex SeenLock;
  std::set<std::string> Seen;  // what was asked for before
  std::optional<THttpResponse> FirstStamp;  // guarded by SeenLock

  // The first time-stamp given, once there is one; else Stamp becomes it.
  THttpResponse Replayed(const THttpResponse& Stamp) {
    const std::lock_guard Guard(SeenLock);
    if (!FirstStamp && Stamp.Status == 200) FirstStamp = Stamp;
    return FirstStamp.value_or(Stamp);
  }

  // True the first time Data is asked for.
  bool FirstAsked(const std::string& Data) {
    const std::lock_guard Guard(SeenLock);
    return Seen.insert(Data).second;
  }

  explicit TSigner(const TTsaIdentity& Identity) : StampTime(Identity.StampTime) {
    TBio CertFile = OpenFile(Identity.CertPath);
    Certificate.reset(PEM_read_bio_X509(CertFile.get(), nullptr, nullptr, nullptr));
    TBio KeyFile = OpenFile(Identity.KeyPath);
    Key.reset(PEM_read_bio_PrivateKey(KeyFile.get(), nullptr, nullptr, nullptr));
    if (!Certificate || !Key) throw std::runtime_error("cannot load the TSA certificate or key");
  }

  std::optional<THttpResponse> Authenticode(const std::string& Body, bool WrongImprint) const {
    const std::optional<std::string> Der = DecodeBase64(Body);
    std::optional<std::string> Content = Der ? AuthenticodeRequestContent(*Der) : std::nullopt;
    if (!Content || Content->empty()) return THttpResponse{400, "text/plain", "bad time-stamp request"};
    if (WrongImprint) Content->front() ^= 1;
    TBio Data(BIO_new_mem_buf(Content->data(), static_cast<int>(Content->size())));
    constexpr int Flags = PKCS7_BINARY | PKCS7_NOSMIMECAP | PKCS7_PARTIAL;
    TPkcs7 Signed(PKCS7_sign(Certificate.get(), Key.get(), nullptr, Data.get(), Flags));
    if (Signed && StampTime) {
      // A signing time already present is kept when the signature is finished.
      PKCS7_SIGNER_INFO* Info = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Signed.get()), 0);
      ASN1_UTCTIME* Time = ASN1_UTCTIME_set(nullptr, static_cast<time_t>(*StampTime));
      if (Time == nullptr || PKCS7_add_signed_attribute(Info, NID_pkcs9_signingTime, V_ASN1_UTCTIME, Time) != 1) {
        ASN1_UTCTIME_free(Time);
        Signed.reset();
      }
    }
    TBio Out(BIO_new(BIO_s_mem()));
    if (!Signed || PKCS7_final(Signed.get(), Data.get(), Flags) != 1 || !Out ||
        i2d_PKCS7_bio(Out.get(), Signed.get()) != 1)
      return THttpResponse{500, "text/plain", "signing failed"};
    return THttpResponse{200, "application/octet-stream", EncodeBase64(BioContents(Out.get()))};
  }

  std::optional<THttpResponse> Rfc3161(std::string Body, bool WrongImprint) {
    if (WrongImprint) {
      const auto* Bytes = reinterpret_cast<const unsigned char*>(Body.data());
      TOwned<TS_REQ, TS_REQ_free> Query(d2i_TS_REQ(nullptr, &Bytes, static_cast<long>(Body.size())));
      ASN1_OCTET_STRING* Digest = Query ? TS_MSG_IMPRINT_get_msg(TS_REQ_get_msg_imprint(Query.get())) : nullptr;
      if (Digest == nullptr || Digest->length < 1) return THttpResponse{400, "text/plain", "bad time-stamp request"};
      Digest->data[0] ^= 1;
      unsigned char* Encoded = nullptr;
      const int Length = i2d_TS_REQ(Query.get(), &Encoded);
      if (Length <= 0) return THttpResponse{500, "text/plain", "out of memory"};
      Body.assign(reinterpret_cast<const char*>(Encoded), static_cast<std::size_t>(Length));
      OPENSSL_free(Encoded);
    }
    TTsContext Context(TS_RESP_CTX_new());
    TObject Policy(OBJ_txt2obj("1.3.6.1.4.1.4146.2.3", 1));
    if (!Context || !Policy) return THttpResponse{500, "text/plain", "out of memory"};
    TS_RESP_CTX_set_signer_cert(Context.get(), Certificate.get());
    TS_RESP_CTX_set_signer_key(Context.get(), Key.get());
    TS_RESP_CTX_set_signer_digest(Context.get(), EVP_sha256());
    TS_RESP_CTX_set_def_policy(Context.get(), Policy.get());
    for (const EVP_MD* Digest : {EVP_sha1(), EVP_sha256(), EVP_sha384(), EVP_sha512()})
      TS_RESP_CTX_add_md(Context.get(), Digest);
    TS_RESP_CTX_set_serial_cb(Context.get(), NextSerial, &Serial);
    if (StampTime) TS_RESP_CTX_set_time_cb(Context.get(), FixedTime, &*StampTime);
    TBio Query(BIO_new_mem_buf(Body.data(), static_cast<int>(Body.size())));
    TTsResponse Response(TS_RESP_create_response(Context.get(), Query.get()));
    TBio Out(BIO_new(BIO_s_mem()));
    if (!Response || !Out || i2d_TS_RESP_bio(Out.get(), Response.get()) != 1)
      return THttpResponse{500, "text/plain", "time-stamping failed"};
    return THttpResponse{200, "application/timestamp-reply", BioContents(Out.get())};
  }
};

TimestampServer::TimestampServer(TTimestampBehaviour Behaviour, std::chrono::milliseconds Delay)
    : TimestampServer(Behaviour, TTsaIdentity{TestPki().TsaCertPath, TestPki().TsaKeyPath, std::nullopt}, Delay) {}

TimestampServer::TimestampServer(TTimestampBehaviour Behaviour, const TTsaIdentity& Identity,
                                 std::chrono::milliseconds Delay)
    : TimestampServer(Behaviour, Identity, Delay, nullptr) {}

TimestampServer::TimestampServer(TTimestampBehaviour Behaviour, LoopbackHttpServer::Handler Gate)
    : TimestampServer(Behaviour, TTsaIdentity{TestPki().TsaCertPath, TestPki().TsaKeyPath, std::nullopt}, {},
                      std::move(Gate)) {}

TimestampServer::TimestampServer(TTimestampBehaviour Behaviour, const TTsaIdentity& Identity,
                                 std::chrono::milliseconds Delay, LoopbackHttpServer::Handler Gate)
    : Signer(std::make_unique<TSigner>(Identity)) {
  Http = std::make_unique<LoopbackHttpServer>(
      [this, Behaviour, Delay, Gate = std::move(Gate)](const THttpRequest& Request) -> std::optional<THttpResponse> {
        std::this_thread::sleep_for(Delay);
        if (Gate) {
          if (std::optional<THttpResponse> Instead = Gate(Request)) return Instead;
        }
        switch (Behaviour) {
          case TTimestampBehaviour::Silent: return std::nullopt;
          case TTimestampBehaviour::Refuse: return THttpResponse{500, "text/plain", "no time today"};
          case TTimestampBehaviour::Reject: return THttpResponse{400, "text/plain", "not from you"};
          case TTimestampBehaviour::ThrottleFirst: {
            const std::optional<std::string> Data = StampedData(Request);
            if (Data && Signer->FirstAsked(*Data))
              return THttpResponse{429, "text/plain", "slow down", {{"Retry-After", "1"}}};
            break;
          }
          case TTimestampBehaviour::Answer:
          case TTimestampBehaviour::WrongImprint:
          case TTimestampBehaviour::Replay: break;
        }
        if (Request.Method != "POST") return THttpResponse{400, "text/plain", "POST expected"};
        const bool WrongImprint = Behaviour == TTimestampBehaviour::WrongImprint;
        std::optional<THttpResponse> Stamp = IsRfc3161(Request) ? Signer->Rfc3161(Request.Body, WrongImprint)
                                                                : Signer->Authenticode(Request.Body, WrongImprint);
        if (Stamp && Behaviour == TTimestampBehaviour::Replay) return Signer->Replayed(*Stamp);
        return Stamp;
      });
}

TimestampServer::~TimestampServer() = default;
