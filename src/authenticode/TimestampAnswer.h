#pragma once
// Reading a timestamp server's answer (the body of an HTTP 200) and checking it against the
// request it should answer: its status, that it stamps what was sent (the imprint, and for
// RFC 3161 the nonce), that its signature verifies and that its signer is a time-stamping
// certificate. An answer that fails any of these is no timestamp.
#include <optional>
#include <string>
#include <string_view>

#include "authenticode/TimestampProtocol.h"
#include "authenticode/TimestampRequest.h"

struct TTimestampAnswer {
  std::optional<TTimestampToken> Token;  // Server is left for the caller
  std::string Problem;                   // why there is no token, in English
};

TTimestampAnswer ReadTimestampAnswer(const TTimestampRequest& Request, std::string_view Body);
