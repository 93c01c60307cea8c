#include "keys/KeyAgentProtocol.h"

#include <openssl/objects.h>

#include <algorithm>
#include <array>
#include <string_view>

#include "common/ByteReader.h"
#include "common/ByteWriter.h"

namespace {
enum TReplyStatus : std::uint8_t { ReplyOk = 0, ReplyFailed = 1 };

// The digest algorithms Authenticode signs with, as the protocol numbers them.
struct TAgentDigest {
  std::uint8_t Id;
  int Nid;
  const EVP_MD* (*Md)();
};
constexpr std::array<TAgentDigest, 4> AgentDigests{{
    {1, NID_sha1, EVP_sha1}, {2, NID_sha256, EVP_sha256}, {3, NID_sha384, EVP_sha384}, {4, NID_sha512, EVP_sha512}}};

// Far above any real chain, signature or message; a reply with more is not one a key gave.
constexpr std::uint16_t MaxCertificates = 64;
constexpr std::uint32_t MaxSignatureSize = 2048;
constexpr std::uint32_t MaxMessageSize = 4096;

void AppendBlock(std::vector<std::uint8_t>& Out, std::span<const std::uint8_t> Bytes) {
  AppendLe32(Out, static_cast<std::uint32_t>(Bytes.size()));
  Out.insert(Out.end(), Bytes.begin(), Bytes.end());
}

void AppendText(std::vector<std::uint8_t>& Out, std::string_view Text) {
  AppendBlock(Out, std::span(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size()));
}

// A 32-bit length at Pos and the bytes it counts, between Least and Limit of them; Pos moves past
// them.
std::optional<std::span<const std::uint8_t>> ReadBlock(std::span<const std::uint8_t> Body, std::size_t& Pos,
                                                       std::uint32_t Limit, std::uint32_t Least = 1) {
  if (!Fits(Body, Pos, 4)) return std::nullopt;
  const std::uint32_t Length = ReadLe32(Body, Pos);
  if (Length < Least || Length > Limit || !Fits(Body, Pos + 4, Length)) return std::nullopt;
  Pos += 4 + Length;
  return Body.subspan(Pos - Length, Length);
}

std::optional<std::string> ReadText(std::span<const std::uint8_t> Body, std::size_t& Pos, std::uint32_t Limit) {
  const auto Block = ReadBlock(Body, Pos, Limit, 0);
  if (!Block) return std::nullopt;
  return std::string(Block->begin(), Block->end());
}

// The longest call one request asks the agent to make.
constexpr std::chrono::milliseconds MaxHttpTime = std::chrono::minutes(10);
constexpr std::uint16_t MaxHttpHeaders = 64;
constexpr std::uint32_t MaxRetryAfterSeconds = 24 * 60 * 60;

std::optional<TAgentRequest> ParseHttpRequest(std::span<const std::uint8_t> Body) {
  if (!Fits(Body, 1, 4)) return std::nullopt;
  TAgentRequest Request;
  Request.Kind = TAgentRequestKind::Http;
  Request.HttpTime = std::chrono::milliseconds(ReadLe32(Body, 1));
  std::size_t Pos = 5;
  std::optional<std::string> Method = ReadText(Body, Pos, MaxAgentRequestSize);
  std::optional<std::string> Url = ReadText(Body, Pos, MaxAgentRequestSize);
  if (!Method || !Url || !Fits(Body, Pos, 2) || Request.HttpTime > MaxHttpTime) return std::nullopt;
  const std::uint16_t Headers = ReadLe16(Body, Pos);
  Pos += 2;
  if (Headers > MaxHttpHeaders) return std::nullopt;
  for (std::uint16_t Index = 0; Index < Headers; ++Index) {
    std::optional<std::string> Header = ReadText(Body, Pos, MaxAgentRequestSize);
    if (!Header) return std::nullopt;
    Request.Http.Headers.push_back(std::move(*Header));
  }
  std::optional<std::string> Content = ReadText(Body, Pos, MaxAgentRequestSize);
  std::optional<std::string> CaFile = ReadText(Body, Pos, MaxAgentRequestSize);
  if (!Content || !CaFile || Pos != Body.size()) return std::nullopt;
  Request.Http.Method = std::move(*Method);
  Request.Http.Url = std::move(*Url);
  Request.Http.Body = std::move(*Content);
  Request.Http.CaFile = std::move(*CaFile);
  return Request;
}

std::optional<std::string> ParseFailure(std::span<const std::uint8_t> Body) {
  std::size_t Pos = 1;
  const auto Message = ReadBlock(Body, Pos, MaxMessageSize);
  if (!Message || Pos != Body.size()) return std::nullopt;
  return std::string(Message->begin(), Message->end());
}
}  // namespace

std::optional<std::uint32_t> AgentFrameLength(std::span<const std::uint8_t> Header, std::uint32_t Limit) {
  if (Header.size() != AgentFrameHeaderSize) return std::nullopt;
  const std::uint32_t Length = ReadLe32(Header, 0);
  if (Length == 0 || Length > Limit) return std::nullopt;
  return Length;
}

std::vector<std::uint8_t> AgentFrame(std::span<const std::uint8_t> Body) {
  std::vector<std::uint8_t> Frame;
  Frame.reserve(AgentFrameHeaderSize + Body.size());
  AppendBlock(Frame, Body);
  return Frame;
}

std::vector<std::uint8_t> CertificatesRequest() { return {static_cast<std::uint8_t>(TAgentRequestKind::Certificates)}; }

std::optional<std::vector<std::uint8_t>> SignRequest(std::span<const std::uint8_t> Digest, const EVP_MD* Md) {
  if (!Md) return std::nullopt;
  for (const TAgentDigest& Known : AgentDigests) {
    if (Known.Nid != EVP_MD_get_type(Md)) continue;
    if (Digest.size() != static_cast<std::size_t>(EVP_MD_get_size(Md))) return std::nullopt;
    std::vector<std::uint8_t> Body{static_cast<std::uint8_t>(TAgentRequestKind::Sign), Known.Id,
                                   static_cast<std::uint8_t>(Digest.size())};
    Body.insert(Body.end(), Digest.begin(), Digest.end());
    return Body;
  }
  return std::nullopt;
}

std::optional<TAgentRequest> ParseAgentRequest(std::span<const std::uint8_t> Body) {
  if (Body.empty()) return std::nullopt;
  TAgentRequest Request;
  switch (Body[0]) {
    case static_cast<std::uint8_t>(TAgentRequestKind::Certificates):
      if (Body.size() != 1) return std::nullopt;
      Request.Kind = TAgentRequestKind::Certificates;
      return Request;
    case static_cast<std::uint8_t>(TAgentRequestKind::Sign): {
      if (Body.size() < 3) return std::nullopt;
      for (const TAgentDigest& Known : AgentDigests) {
        if (Known.Id != Body[1]) continue;
        const EVP_MD* Md = Known.Md();
        if (Body[2] != EVP_MD_get_size(Md) || Body.size() != 3u + Body[2]) return std::nullopt;
        Request.Kind = TAgentRequestKind::Sign;
        Request.Md = Md;
        Request.Digest.assign(Body.begin() + 3, Body.end());
        return Request;
      }
      return std::nullopt;
    }
    case static_cast<std::uint8_t>(TAgentRequestKind::Http):
      return ParseHttpRequest(Body);
    default:
      return std::nullopt;
  }
}

std::optional<std::vector<std::uint8_t>> HttpRequest(const THttpCall& Call, std::chrono::milliseconds Time) {
  if (Time.count() < 0 || Time > MaxHttpTime || Call.Headers.size() > MaxHttpHeaders) return std::nullopt;
  std::vector<std::uint8_t> Body{static_cast<std::uint8_t>(TAgentRequestKind::Http)};
  AppendLe32(Body, static_cast<std::uint32_t>(Time.count()));
  AppendText(Body, Call.Method);
  AppendText(Body, Call.Url);
  AppendLe16(Body, static_cast<std::uint16_t>(Call.Headers.size()));
  for (const std::string& Header : Call.Headers) AppendText(Body, Header);
  AppendText(Body, Call.Body);
  AppendText(Body, Call.CaFile);
  if (Body.size() > MaxAgentRequestSize) return std::nullopt;
  return Body;
}

std::optional<std::vector<std::uint8_t>> CertificatesReply(X509* Certificate, const std::vector<X509*>& Chain) {
  std::vector<X509*> All{Certificate};
  All.insert(All.end(), Chain.begin(), Chain.end());
  if (!Certificate || All.size() > MaxCertificates) return std::nullopt;
  std::vector<std::uint8_t> Body{ReplyOk};
  AppendLe16(Body, static_cast<std::uint16_t>(All.size()));
  for (X509* Each : All) {
    const int Length = i2d_X509(Each, nullptr);
    if (Length <= 0) return std::nullopt;
    std::vector<std::uint8_t> Der(static_cast<std::size_t>(Length));
    unsigned char* Out = Der.data();
    if (i2d_X509(Each, &Out) != Length) return std::nullopt;
    AppendBlock(Body, Der);
  }
  if (Body.size() > MaxAgentReplySize) return std::nullopt;
  return Body;
}

std::vector<std::uint8_t> SignReply(const TKeySignature& Signature) {
  if (Signature.Value.empty() || Signature.Value.size() > MaxSignatureSize) return FailureReply(Signature.Error);
  std::vector<std::uint8_t> Body{ReplyOk};
  AppendBlock(Body, Signature.Value);
  return Body;
}

std::vector<std::uint8_t> FailureReply(const std::string& Message) {
  const std::string_view Text =
      Message.empty() ? std::string_view("The key gave no signature.") : std::string_view(Message).substr(0, MaxMessageSize);
  std::vector<std::uint8_t> Body{ReplyFailed};
  AppendBlock(Body, std::span(reinterpret_cast<const std::uint8_t*>(Text.data()), Text.size()));
  return Body;
}

std::vector<std::uint8_t> HttpReply(const THttpAnswer& Answer) {
  std::vector<std::uint8_t> Body{ReplyOk, static_cast<std::uint8_t>(Answer.End)};
  AppendLe32(Body, static_cast<std::uint32_t>(Answer.Status));
  Body.push_back(Answer.RetryAfter ? 1 : 0);
  AppendLe32(Body, static_cast<std::uint32_t>(
                       std::clamp<std::int64_t>(Answer.RetryAfter.value_or(std::chrono::seconds(0)).count(), 0,
                                                MaxRetryAfterSeconds)));
  AppendText(Body, std::string_view(Answer.Body).substr(0, MaxHttpAnswerBytes));
  AppendText(Body, std::string_view(Answer.Error).substr(0, MaxMessageSize));
  return Body;
}

std::optional<TAgentCertificates> ParseCertificatesReply(std::span<const std::uint8_t> Body) {
  if (Body.empty()) return std::nullopt;
  if (Body[0] == ReplyFailed) {
    std::optional<std::string> Message = ParseFailure(Body);
    if (!Message) return std::nullopt;
    return TAgentCertificates{{}, std::move(*Message)};
  }
  if (Body[0] != ReplyOk || !Fits(Body, 1, 2)) return std::nullopt;
  const std::uint16_t Count = ReadLe16(Body, 1);
  if (Count == 0 || Count > MaxCertificates) return std::nullopt;
  TAgentCertificates Result;
  std::size_t Pos = 3;
  for (std::uint16_t Index = 0; Index < Count; ++Index) {
    const auto Der = ReadBlock(Body, Pos, MaxAgentReplySize);
    if (!Der) return std::nullopt;
    Result.Der.emplace_back(Der->begin(), Der->end());
  }
  if (Pos != Body.size()) return std::nullopt;
  return Result;
}

std::optional<TKeySignature> ParseSignReply(std::span<const std::uint8_t> Body) {
  if (Body.empty()) return std::nullopt;
  if (Body[0] == ReplyFailed) {
    std::optional<std::string> Message = ParseFailure(Body);
    if (!Message) return std::nullopt;
    return TKeySignature{{}, std::move(*Message)};
  }
  std::size_t Pos = 1;
  const auto Value = ReadBlock(Body, Pos, MaxSignatureSize);
  if (Body[0] != ReplyOk || !Value || Pos != Body.size()) return std::nullopt;
  return TKeySignature{{Value->begin(), Value->end()}, {}};
}

std::optional<THttpAnswer> ParseHttpReply(std::span<const std::uint8_t> Body) {
  using TEnd = THttpAnswer::TEnd;
  if (!Fits(Body, 0, 11) || Body[0] != ReplyOk || Body[1] > static_cast<std::uint8_t>(TEnd::Interrupted) ||
      Body[6] > 1)
    return std::nullopt;
  THttpAnswer Answer;
  Answer.End = static_cast<TEnd>(Body[1]);
  Answer.Status = ReadLe32(Body, 2);
  const std::uint32_t RetryAfter = ReadLe32(Body, 7);
  if (Answer.Status > 999 || RetryAfter > MaxRetryAfterSeconds || (Body[6] == 0 && RetryAfter != 0)) return std::nullopt;
  if (Body[6] == 1) Answer.RetryAfter = std::chrono::seconds(RetryAfter);
  std::size_t Pos = 11;
  std::optional<std::string> Content = ReadText(Body, Pos, MaxHttpAnswerBytes);
  std::optional<std::string> Error = ReadText(Body, Pos, MaxMessageSize);
  if (!Content || !Error || Pos != Body.size()) return std::nullopt;
  Answer.Body = std::move(*Content);
  Answer.Error = std::move(*Error);
  return Answer;
}
