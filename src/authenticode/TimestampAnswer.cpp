#include "authenticode/TimestampAnswer.h"

#include <openssl/err.h>
#include <openssl/objects.h>
#include <openssl/ts.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "authenticode/CertificateChain.h"
#include "common/Base64.h"
#include "common/OpenSslPtr.h"
#include "authenticode/Pkcs7Parts.h"

namespace {
using TTsResponse = std::unique_ptr<TS_RESP, TOpenSslFree<TS_RESP_free>>;
using TBytes = std::vector<std::uint8_t>;

TTimestampAnswer Refused(std::string Problem) { return TTimestampAnswer{std::nullopt, std::move(Problem)}; }

template <typename T, int (*Encode)(const T*, unsigned char**)>
TBytes DerOf(const T* Object) {
  unsigned char* Encoded = nullptr;
  const int Length = Encode(Object, &Encoded);
  if (Length <= 0) return {};
  TBytes Bytes(Encoded, Encoded + Length);
  OPENSSL_free(Encoded);
  return Bytes;
}

bool SameBytes(const ASN1_STRING* String, const TBytes& Bytes) {
  const auto* Data = ASN1_STRING_get0_data(String);
  return static_cast<std::size_t>(ASN1_STRING_length(String)) == Bytes.size() &&
         std::equal(Bytes.begin(), Bytes.end(), Data);
}

// The signature of a PKCS#7 signed structure and the digest of its content verify, and its
// signer is a time-stamping certificate. Whose certificate it is does not matter here: the
// verifier of the signed file decides whether it trusts the stamp. Out receives the content.
std::string SignatureProblem(PKCS7* Signed, BIO* Out) {
  if (PKCS7_verify(Signed, nullptr, nullptr, nullptr, Out, PKCS7_NOVERIFY | PKCS7_BINARY) != 1)
    return "the signature of the timestamp does not verify";
  const TCertificateList Signers(PKCS7_get0_signers(Signed, nullptr, 0));
  if (!Signers || sk_X509_num(Signers.get()) < 1 || !IsForTimeStamping(sk_X509_value(Signers.get(), 0)))
    return "the timestamp is not signed with a time-stamping certificate";
  return {};
}

TTimestampAnswer ReadRfc3161Answer(const TTimestampRequest& Request, std::string_view Body) {
  const auto* Data = reinterpret_cast<const unsigned char*>(Body.data());
  const TTsResponse Response(d2i_TS_RESP(nullptr, &Data, static_cast<long>(Body.size())));
  if (!Response) return Refused("the answer is not an RFC 3161 timestamp response");
  const long Status = ASN1_INTEGER_get(TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(Response.get())));
  if (Status != TS_STATUS_GRANTED && Status != TS_STATUS_GRANTED_WITH_MODS)
    return Refused("the server refused the request (status " + std::to_string(Status) + ")");
  // What is checked is what goes into the signature: the token as it will be written.
  const PKCS7* Granted = TS_RESP_get_token(Response.get());
  const TBytes TokenDer = Granted != nullptr ? DerOf<PKCS7, i2d_PKCS7>(Granted) : TBytes();
  const TPkcs7 Token = ParsePkcs7(TokenDer);
  const TTstInfo Info(Token ? PKCS7_to_TS_TST_INFO(Token.get()) : nullptr);
  if (!Info) return Refused("the answer holds no timestamp token");

  TS_MSG_IMPRINT* Imprint = TS_TST_INFO_get_msg_imprint(Info.get());
  if (OBJ_obj2nid(TS_MSG_IMPRINT_get_algo(Imprint)->algorithm) != Request.ImprintAlgorithm ||
      !SameBytes(TS_MSG_IMPRINT_get_msg(Imprint), Request.Imprint))
    return Refused("the timestamp is for another signature than the one sent");
  std::uint64_t Nonce = 0;
  const ASN1_INTEGER* AnsweredNonce = TS_TST_INFO_get_nonce(Info.get());
  if (AnsweredNonce == nullptr || ASN1_INTEGER_get_uint64(&Nonce, AnsweredNonce) != 1 || Nonce != Request.Nonce)
    return Refused("the timestamp answers another request (its nonce differs)");
  const std::optional<std::int64_t> Time = Seconds(TS_TST_INFO_get_time(Info.get()));
  if (!Time) return Refused("the timestamp carries no readable time");
  if (std::string Problem = SignatureProblem(Token.get(), nullptr); !Problem.empty()) return Refused(Problem);

  TTimestampToken Stamp;
  Stamp.Protocol = TTimestampProtocol::Rfc3161;
  Stamp.AttributeValue = TokenDer;
  Stamp.Time = *Time;
  return TTimestampAnswer{std::move(Stamp), {}};
}

TTimestampAnswer ReadAuthenticodeAnswer(const TTimestampRequest& Request, std::string_view Body) {
  // Servers answer in base64; some send the DER itself, which begins with a SEQUENCE.
  const TBytes Der = !Body.empty() && Body.front() == '\x30' ? TBytes(Body.begin(), Body.end()) : DecodeBase64(Body);
  const TPkcs7 Response = ParsePkcs7(Der);
  if (!Response || !PKCS7_type_is_signed(Response.get()) || Response->d.sign == nullptr ||
      sk_PKCS7_SIGNER_INFO_num(PKCS7_get_signer_info(Response.get())) < 1)
    return Refused("the answer is not a PKCS#7 signed timestamp");
  const TBio Content(BIO_new(BIO_s_mem()));
  if (!Content) return Refused("out of memory");
  if (std::string Problem = SignatureProblem(Response.get(), Content.get()); !Problem.empty()) return Refused(Problem);
  char* Stamped = nullptr;
  const long StampedLength = BIO_get_mem_data(Content.get(), &Stamped);
  if (StampedLength < 0 || static_cast<std::size_t>(StampedLength) != Request.Imprint.size() ||
      !std::equal(Request.Imprint.begin(), Request.Imprint.end(), reinterpret_cast<const std::uint8_t*>(Stamped)))
    return Refused("the timestamp is for another signature than the one sent");
  PKCS7_SIGNER_INFO* Counter = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(Response.get()), 0);
  const std::optional<std::int64_t> Time = SigningTime(Counter);
  if (!Time) return Refused("the timestamp carries no signing time");

  TTimestampToken Stamp;
  Stamp.Protocol = TTimestampProtocol::Authenticode;
  Stamp.AttributeValue = DerOf<PKCS7_SIGNER_INFO, i2d_PKCS7_SIGNER_INFO>(Counter);
  for (int I = 0; I < sk_X509_num(Response->d.sign->cert); ++I)
    Stamp.Certificates.push_back(DerOf<X509, i2d_X509>(sk_X509_value(Response->d.sign->cert, I)));
  Stamp.Time = *Time;
  if (Stamp.AttributeValue.empty()) return Refused("out of memory");
  return TTimestampAnswer{std::move(Stamp), {}};
}
}  // namespace

TTimestampAnswer ReadTimestampAnswer(const TTimestampRequest& Request, std::string_view Body) {
  if (Body.size() > static_cast<std::size_t>(std::numeric_limits<long>::max())) return Refused("the answer is too long");
  TTimestampAnswer Answer = Request.Protocol == TTimestampProtocol::Rfc3161 ? ReadRfc3161Answer(Request, Body)
                                                                            : ReadAuthenticodeAnswer(Request, Body);
  // Failed checks leave reasons in this thread's error queue; Problem already says it all.
  ERR_clear_error();
  return Answer;
}
