#include "cloud/BearerToken.h"

#include <utility>

TBearerToken::TBearerToken(TAccessToken First, TFetch Again)
    : Current(std::move(First)), Again(Current.Renewable ? std::move(Again) : TFetch()) {}

std::string TBearerToken::Header() const {
  const std::lock_guard Guard(Lock);
  return BearerHeader(Current);
}

bool TBearerToken::Renew(const std::string& Rejected, const TCloudLink& Link) const {
  const std::lock_guard Guard(Lock);
  if (BearerHeader(Current) != Rejected) return true;  // renewed meanwhile by another call
  if (!Again) return false;
  TAccessToken Next = Again(Link);
  if (Next.Failure) return false;
  Current = std::move(Next);
  return true;
}

TCloudAnswer TBearerToken::Call(const std::function<THttpCall(const std::string& Authorization)>& Make,
                                const TCloudLink& Link) const {
  const std::string Used = Header();
  TCloudAnswer Answer = CallCloud(Make(Used), Link);
  if (Answer.Failure.Kind == TCloudFailure::TKind::Unauthorized && Renew(Used, Link))
    Answer = CallCloud(Make(Header()), Link);
  return Answer;
}
