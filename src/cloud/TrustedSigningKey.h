#pragma once
// A certificate profile of an Azure Trusted Signing account: a token is had once, the certificate
// chain is fetched once (sign/certchain), and each digest is submitted (POST …/sign) and its
// operation polled until it succeeds, all against the account's endpoint, the address's host
// (https://, or http:// for a loopback host). The profile's certificates live three days, so
// signing with it needs a timestamp (see TimestampRequiredMessage).
#include "cloud/OpenCloudKey.h"

// How long one signature may take, in seconds, when not the default two minutes.
inline constexpr const char* TrustedSigningWaitVariable = "QUILLORY_TRUSTEDSIGNING_WAIT";

TCloudKeyOpening OpenTrustedSigningKey(const TCloudKeyRequest& Request);
