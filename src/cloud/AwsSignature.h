#pragma once
// AWS Signature Version 4 ("AWS4-HMAC-SHA256") of HTTP requests, as AWS's services check them:
// the canonical request, the string to sign, the signing key derived from the secret for one day,
// region and service, and the Authorization header made from them. Paths are signed as they are
// sent, without normalising "." or ".." segments.
#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

struct TAwsCredentials {
  std::string AccessKeyId, SecretAccessKey;
  std::string SessionToken;  // empty for long-term keys
};

struct TAwsRequest {
  std::string Method;
  std::string Target;  // the path, and "?" and the query when there is one, as sent
  std::vector<std::pair<std::string, std::string>> Headers;  // as sent, Host among them
  std::string Body;
};

// What a signature is valid for: a day (YYYYMMDD, UTC), a region and a service ("kms").
struct TAwsScope {
  std::string Date, Region, Service;
  std::string Text() const;  // "20150830/us-east-1/service/aws4_request"
};

// Every header of Request is signed.
std::string AwsCanonicalRequest(const TAwsRequest& Request);
// The header names of Request as the canonical request lists them: "host;x-amz-date".
std::string AwsSignedHeaders(const TAwsRequest& Request);
// AmzDate is the request's X-Amz-Date, "20150830T123600Z".
std::string AwsStringToSign(const std::string& AmzDate, const TAwsScope& Scope, const std::string& CanonicalRequest);
std::array<std::uint8_t, 32> AwsSigningKey(const std::string& SecretAccessKey, const TAwsScope& Scope);
// The signature in lower-case hex.
std::string AwsSignature(const std::array<std::uint8_t, 32>& SigningKey, const std::string& StringToSign);

// The X-Amz-Date of a moment.
std::string AwsDate(std::time_t Moment);

// Adds X-Amz-Date, X-Amz-Security-Token (with a session token) and Authorization to Request,
// which then carries everything else it is sent with.
void SignAwsRequest(TAwsRequest& Request, const TAwsCredentials& Credentials, const std::string& Region,
                    const std::string& Service, std::time_t Now);
