#include "authenticode/TimestampClient.h"

#include <algorithm>
#include <map>
#include <set>

#include "authenticode/HttpCall.h"
#include "authenticode/TimestampAnswer.h"
#include "authenticode/TimestampRequest.h"

namespace {
bool IsWorthRetrying(long Status) { return Status == 408 || Status == 429 || (Status >= 500 && Status <= 599); }
}  // namespace

struct TTimestampClient::TRequestState {
  TTimestampRequest Request;
  TSteadyClock::time_point Deadline;
  std::map<std::string, TSteadyClock::time_point> NotBefore;  // by host: what a refusal asked this request to wait
};

TTimestampOutcome TTimestampClient::Stamp(std::span<const std::uint8_t> SignatureValue) const {
  TRequestState State{Settings.Protocol == TTimestampProtocol::Rfc3161
                          ? MakeRfc3161Request(SignatureValue, Settings.Digest)
                          : MakeAuthenticodeRequest(SignatureValue),
                      TSteadyClock::now() + Settings.Budget,
                      {}};
  TTimestampOutcome Outcome;
  std::set<std::string> GivenUp;  // servers not asked again for this signature
  for (int Round = 0; Round < Settings.Tries; ++Round) {
    bool WaitBeforeNext = false;
    for (const std::string& Server : Order.Current()) {
      if (GivenUp.count(Server) != 0) continue;
      switch (Ask(Server, State, Outcome)) {
        case TTry::Stamped: return Outcome;
        case TTry::Interrupted: Outcome.Interrupted = true; return Outcome;
        case TTry::OutOfTime: return Outcome;
        case TTry::Throttled: break;
        case TTry::Failed: WaitBeforeNext = true; break;
        case TTry::Refused: GivenUp.insert(Server); break;
      }
      Order.PutBehind(Server);
    }
    if (Round + 1 == Settings.Tries || GivenUp.size() == Order.Current().size()) break;
    if (WaitBeforeNext) {
      const TSteadyClock::time_point Next = TSteadyClock::now() + Settings.RetryWait;
      if (Next >= State.Deadline) break;
      if (!WaitUntil(Next, Settings.Interruption)) {
        Outcome.Interrupted = true;
        break;
      }
    }
  }
  return Outcome;
}

TTimestampClient::TTry TTimestampClient::Ask(const std::string& Server, TRequestState& State,
                                            TTimestampOutcome& Outcome) const {
  const auto Fail = [&](TTry Kind, std::string Problem) {
    Outcome.Failures.push_back({Server, std::move(Problem)});
    return Kind;
  };
  const std::string Host = UrlHost(Server);
  if (Host.empty()) return Fail(TTry::Refused, "not an http:// or https:// address");
  const THostPace::TTurn Turn = Pace.TakeTurn(Host, State.NotBefore[Host], State.Deadline, Settings.Interruption);
  switch (Turn.Wait) {
    case THostPace::TWait::Taken: break;
    case THostPace::TWait::Interrupted: return TTry::Interrupted;
    case THostPace::TWait::PastDeadline: return Fail(TTry::OutOfTime, "its next turn comes after the time left for this file");
  }
  // Asked for as Windows' own clients ask.
  const std::string& Type = State.Request.ContentType;
  const THttpCall Post{"POST", Server,
                       {"Content-Type: " + Type, "Accept: " + Type, "User-Agent: Transport", "Cache-Control: no-cache"},
                       State.Request.Body, Settings.CaFile};
  const TSteadyClock::time_point TryEnd = std::min(State.Deadline, TSteadyClock::now() + Settings.TryTimeout);
  const THttpAnswer Result =
      Settings.Http ? Settings.Http(Post, TryEnd, Settings.Interruption) : CallHttp(Post, TryEnd, Settings.Interruption);
  switch (Result.End) {
    case THttpAnswer::TEnd::Interrupted: return TTry::Interrupted;
    case THttpAnswer::TEnd::TimedOut:
    case THttpAnswer::TEnd::Failed: return Fail(TTry::Failed, Result.Error);
    case THttpAnswer::TEnd::Answered: break;
  }
  const std::string Status = "HTTP " + std::to_string(Result.Status);
  if (Result.Status == 429 || (Result.Status == 503 && Result.RetryAfter)) {
    // Too many requests: the host's pace learns from it, and a wait asked for holds for this one.
    const std::chrono::seconds Wait = Result.RetryAfter.value_or(std::chrono::seconds(0));
    Pace.Throttled(*Turn.Slot, Wait);
    if (!Result.RetryAfter) return Fail(TTry::Failed, Status);
    State.NotBefore[Host] = TSteadyClock::now() + Wait;
    return Fail(TTry::Throttled, Status + ", asked to wait " + std::to_string(Wait.count()) + " s");
  }
  if (Result.Status != 200) return Fail(IsWorthRetrying(Result.Status) ? TTry::Failed : TTry::Refused, Status);
  Pace.Granted(*Turn.Slot);
  TTimestampAnswer Answer = ReadTimestampAnswer(State.Request, Result.Body);
  if (!Answer.Token) return Fail(TTry::Refused, Answer.Problem);
  Answer.Token->Server = Server;
  Outcome.Token = std::move(Answer.Token);
  return TTry::Stamped;
}
