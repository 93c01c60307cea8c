#include "cloud/AwsSignature.h"

#include <openssl/hmac.h>
#include <openssl/sha.h>

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string_view>

#include "common/TextUtil.h"

namespace {
constexpr char Algorithm[] = "AWS4-HMAC-SHA256";

std::string Sha256Hex(std::string_view Data) {
  std::uint8_t Digest[SHA256_DIGEST_LENGTH];
  SHA256(reinterpret_cast<const unsigned char*>(Data.data()), Data.size(), Digest);
  return LowerHex(Digest, sizeof Digest);
}

std::array<std::uint8_t, 32> HmacSha256(const std::uint8_t* Key, std::size_t KeySize, std::string_view Data) {
  std::array<std::uint8_t, 32> Mac{};
  unsigned int MacSize = 0;
  if (HMAC(EVP_sha256(), Key, static_cast<int>(KeySize), reinterpret_cast<const unsigned char*>(Data.data()),
           Data.size(), Mac.data(), &MacSize) == nullptr ||
      MacSize != Mac.size())
    throw std::runtime_error("HMAC-SHA256 failed");
  return Mac;
}

// A "%" not followed by two hex digits stays as it is.
std::string Unescaped(std::string_view Text) { return *PercentDecode(Text, TStrayPercent::Kept); }

std::string CanonicalQuery(std::string_view Query) {
  std::vector<std::pair<std::string, std::string>> Parameters;
  while (!Query.empty()) {
    const std::size_t End = std::min(Query.find('&'), Query.size());
    const std::string_view Parameter = Query.substr(0, End);
    Query.remove_prefix(std::min(End + 1, Query.size()));
    if (Parameter.empty()) continue;
    const std::size_t Equals = std::min(Parameter.find('='), Parameter.size());
    const std::string_view Value = Equals < Parameter.size() ? Parameter.substr(Equals + 1) : std::string_view{};
    Parameters.emplace_back(PercentEncode(Unescaped(Parameter.substr(0, Equals))),
                            PercentEncode(Unescaped(Value)));
  }
  std::sort(Parameters.begin(), Parameters.end());
  std::string Canonical;
  for (const auto& [Name, Value] : Parameters) Canonical += (Canonical.empty() ? "" : "&") + Name + "=" + Value;
  return Canonical;
}

// Leading and trailing white space dropped, each run of it inside (folded lines too) one blank.
std::string CanonicalValue(std::string_view Value) {
  std::string Canonical;
  bool InSpace = false;
  for (const char Character : Value) {
    if (Character == ' ' || Character == '\t' || Character == '\r' || Character == '\n') {
      InSpace = true;
      continue;
    }
    if (InSpace && !Canonical.empty()) Canonical += ' ';
    InSpace = false;
    Canonical += Character;
  }
  return Canonical;
}

// Lower-case names in order, each with its values joined by commas in the order sent.
std::map<std::string, std::string> CanonicalHeaders(const TAwsRequest& Request) {
  std::map<std::string, std::string> Headers;
  for (const auto& [Name, Value] : Request.Headers) {
    auto [Entry, New] = Headers.try_emplace(AsciiLower(Name), CanonicalValue(Value));
    if (!New) Entry->second += "," + CanonicalValue(Value);
  }
  return Headers;
}
}  // namespace

std::string TAwsScope::Text() const { return Date + "/" + Region + "/" + Service + "/aws4_request"; }

std::string AwsSignedHeaders(const TAwsRequest& Request) {
  std::string Names;
  for (const auto& [Name, Value] : CanonicalHeaders(Request)) Names += (Names.empty() ? "" : ";") + Name;
  return Names;
}

std::string AwsCanonicalRequest(const TAwsRequest& Request) {
  const std::string_view Target = Request.Target;
  const std::size_t QueryStart = std::min(Target.find('?'), Target.size());
  std::string Canonical = Request.Method + "\n" +
                          PercentEncode(Unescaped(Target.substr(0, QueryStart)), "/") + "\n" +
                          CanonicalQuery(Target.substr(std::min(QueryStart + 1, Target.size()))) + "\n";
  for (const auto& [Name, Value] : CanonicalHeaders(Request)) Canonical += Name + ":" + Value + "\n";
  return Canonical + "\n" + AwsSignedHeaders(Request) + "\n" + Sha256Hex(Request.Body);
}

std::string AwsStringToSign(const std::string& AmzDate, const TAwsScope& Scope, const std::string& CanonicalRequest) {
  return std::string(Algorithm) + "\n" + AmzDate + "\n" + Scope.Text() + "\n" + Sha256Hex(CanonicalRequest);
}

std::array<std::uint8_t, 32> AwsSigningKey(const std::string& SecretAccessKey, const TAwsScope& Scope) {
  const std::string Secret = "AWS4" + SecretAccessKey;
  std::array<std::uint8_t, 32> Key =
      HmacSha256(reinterpret_cast<const std::uint8_t*>(Secret.data()), Secret.size(), Scope.Date);
  for (const std::string_view Part : {std::string_view(Scope.Region), std::string_view(Scope.Service),
                                      std::string_view("aws4_request")})
    Key = HmacSha256(Key.data(), Key.size(), Part);
  return Key;
}

std::string AwsSignature(const std::array<std::uint8_t, 32>& SigningKey, const std::string& StringToSign) {
  const std::array<std::uint8_t, 32> Mac = HmacSha256(SigningKey.data(), SigningKey.size(), StringToSign);
  return LowerHex(Mac.data(), Mac.size());
}

std::string AwsDate(std::time_t Moment) {
  std::tm Utc{};
  gmtime_r(&Moment, &Utc);
  char Text[17];
  std::strftime(Text, sizeof Text, "%Y%m%dT%H%M%SZ", &Utc);
  return Text;
}

void SignAwsRequest(TAwsRequest& Request, const TAwsCredentials& Credentials, const std::string& Region,
                    const std::string& Service, std::time_t Now) {
  const std::string AmzDate = AwsDate(Now);
  const TAwsScope Scope{AmzDate.substr(0, 8), Region, Service};
  Request.Headers.emplace_back("X-Amz-Date", AmzDate);
  if (!Credentials.SessionToken.empty()) Request.Headers.emplace_back("X-Amz-Security-Token", Credentials.SessionToken);
  const std::string Signature = AwsSignature(AwsSigningKey(Credentials.SecretAccessKey, Scope),
                                             AwsStringToSign(AmzDate, Scope, AwsCanonicalRequest(Request)));
  Request.Headers.emplace_back("Authorization", std::string(Algorithm) + " Credential=" + Credentials.AccessKeyId + "/" +
                                                    Scope.Text() + ", SignedHeaders=" + AwsSignedHeaders(Request) +
                                                    ", Signature=" + Signature);
}
