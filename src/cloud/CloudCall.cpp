#include "cloud/CloudCall.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "common/TextUtil.h"

namespace {
using TKind = TCloudFailure::TKind;

bool IsLoopback(const std::string& Host) { return Host == "127.0.0.1" || Host == "localhost" || Host == "[::1]"; }

bool IsAllowedUrl(const std::string& Url) {
  return StartsWithAscii(Url, "https://") || (StartsWithAscii(Url, "http://") && IsLoopback(UrlHost(Url)));
}

// The message in the service's error answer, or a short "HTTP <status>" when there is none.
std::string ServiceMessage(long Status, const std::string& Body) {
  const std::string Fallback = "HTTP " + std::to_string(Status);
  const nlohmann::json Answer = nlohmann::json::parse(Body, nullptr, false);
  if (!Answer.is_object()) return Fallback;
  const nlohmann::json* Holder = &Answer;
  if (const auto Error = Answer.find("error"); Error != Answer.end() && Error->is_object()) Holder = &*Error;
  for (const char* Key : {"message", "Message", "error_description"}) {
    const auto Found = Holder->find(Key);
    if (Found != Holder->end() && Found->is_string() && !Found->get<std::string>().empty())
      return Fallback + ": " + std::string(CutUtf8(Found->get<std::string>(), 500));
  }
  return Fallback;
}

TKind KindOfRefusal(long Status, const std::string& Message) {
  switch (Status) {
    case 401: return TKind::Unauthorized;
    case 403: return TKind::Forbidden;
    case 404: return TKind::NotFound;
    case 429: return AsciiLower(Message).find("quota") != std::string::npos ? TKind::Quota : TKind::Throttled;
    default: return Status >= 500 ? TKind::Unreachable : TKind::Refused;
  }
}

// AWS's JSON services answer most refusals with 400 and name them in "__type" (the name alone, or
// after a namespace and '#'): the status those stand for.
long AwsStatus(long Status, const std::string& Body) {
  if (Status != 400) return Status;
  const nlohmann::json Answer = nlohmann::json::parse(Body, nullptr, false);
  if (!Answer.is_object() || !Answer.contains("__type") || !Answer["__type"].is_string()) return Status;
  std::string Type = Answer["__type"].get<std::string>();
  Type.erase(0, Type.find('#') + 1);
  if (Type == "ThrottlingException") return 429;
  if (Type == "AccessDeniedException") return 403;
  if (Type == "NotFoundException") return 404;
  for (const char* Unauthorized : {"UnrecognizedClientException", "InvalidSignatureException", "IncompleteSignature",
                                   "ExpiredTokenException", "MissingAuthenticationToken", "InvalidClientTokenId"})
    if (Type.starts_with(Unauthorized)) return 401;
  return Status;
}

bool IsWorthRetrying(long Status) { return Status == 429 || Status == 500 || Status == 502 || Status == 503 || Status == 504; }
}  // namespace

std::string ServiceUrl(const std::string& Host) {
  return (IsLoopback(UrlHost("http://" + Host)) ? "http://" : "https://") + Host;
}

TCloudAnswer CallCloud(THttpCall Request, const TCloudLink& Link) {
  TCloudAnswer Answer;
  const auto Fail = [&Answer](TKind Kind, std::string Detail) {
    Answer.Failure = {Kind, std::move(Detail)};
    return Answer;
  };
  if (!IsAllowedUrl(Request.Url)) return Fail(TKind::Refused, "only https:// addresses are used: " + Request.Url);
  Request.CaFile = Link.CaFile;
  const std::string Host = UrlHost(Request.Url);
  const TSteadyClock::time_point Deadline =
      std::min(Link.Deadline, TSteadyClock::now() + std::chrono::duration_cast<TSteadyClock::duration>(Link.Limits.CallBudget));
  TCloudFailure Last{TKind::TimedOut, "no time was left"};
  TSteadyClock::time_point NotBefore{};  // what the host asked this call to wait
  for (int Try = 0; Try < Link.Limits.Tries; ++Try) {
    THostPace::TTurn Turn = Link.Pace->TakeTurn(Host, NotBefore, Deadline, Link.Interruption);
    switch (Turn.Wait) {
      case THostPace::TWait::Taken: break;
      case THostPace::TWait::Interrupted: return Fail(TKind::Interrupted, {});
      case THostPace::TWait::PastDeadline: Answer.Failure = Last; return Answer;
    }
    const THttpAnswer Http = CallHttp(Request, std::min(Deadline, TSteadyClock::now() + Link.Limits.TryTimeout), Link.Interruption);
    bool WaitFirst = true;
    switch (Http.End) {
      case THttpAnswer::TEnd::Interrupted: return Fail(TKind::Interrupted, {});
      case THttpAnswer::TEnd::TimedOut: Last = {TKind::TimedOut, Http.Error}; break;
      case THttpAnswer::TEnd::Failed: Last = {TKind::Unreachable, Http.Error}; break;
      case THttpAnswer::TEnd::Answered:
        if (Http.Status >= 200 && Http.Status <= 299) {
          Link.Pace->Granted(*Turn.Slot);
          Answer.Status = Http.Status;
          Answer.Body = std::move(Http.Body);
          return Answer;
        }
        const long Status = AwsStatus(Http.Status, Http.Body);
        // AWS's throttling asks for no wait: the usual one holds for the whole batch.
        const std::optional<std::chrono::seconds> RetryAfter =
            Http.RetryAfter || Status == Http.Status
                ? Http.RetryAfter
                : std::optional(std::chrono::ceil<std::chrono::seconds>(Link.Limits.RetryWait));
        const std::string Message = ServiceMessage(Http.Status, Http.Body);
        Last = {KindOfRefusal(Status, Message), Message};
        // A used-up quota is not restored within the seconds a retry waits, unless the service says so.
        if (!IsWorthRetrying(Status) || (Last.Kind == TKind::Quota && !RetryAfter)) {
          Answer.Status = Http.Status;
          Answer.Failure = Last;
          return Answer;
        }
        // Too many requests: the host's pace learns from it, and the wait it asked for holds for
        // this request.
        if (Status == 429 || (Status == 503 && RetryAfter))
          Link.Pace->Throttled(*Turn.Slot, RetryAfter.value_or(std::chrono::seconds(0)));
        if ((Status == 429 || Status == 503) && RetryAfter) {
          NotBefore = TSteadyClock::now() + *RetryAfter;
          Last.Detail += ", asked to wait " + std::to_string(RetryAfter->count()) + " s";
          WaitFirst = false;
        }
        break;
    }
    Turn.Slot.reset();  // the host's place is not held through the wait
    if (Try + 1 == Link.Limits.Tries) break;
    if (WaitFirst) {
      const TSteadyClock::time_point Next = TSteadyClock::now() + Link.Limits.RetryWait;
      if (Next >= Deadline) break;
      if (!WaitUntil(Next, Link.Interruption)) return Fail(TKind::Interrupted, {});
    }
  }
  Answer.Failure = Last;
  return Answer;
}
