#pragma once
// A key in AWS KMS: its public key is read once (GetPublicKey), which also proves the credentials
// and the address, and each digest is signed with one Sign (MessageType DIGEST). Requests are
// JSON 1.1 signed with Signature Version 4 with the credentials AWS's tools find
// (AwsCredentials.h); the certificate comes from a file.
#include "cloud/OpenCloudKey.h"

// The service's address, https://kms.<region>.amazonaws.com unless AWS_ENDPOINT_URL_KMS, else
// AWS_ENDPOINT_URL, names another, as for AWS's own tools.
std::string AwsKmsEndpoint(const std::string& Region);

TCloudKeyOpening OpenAwsKmsKey(const TCloudKeyRequest& Request);
