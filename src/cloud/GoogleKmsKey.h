#pragma once
// A key version in Google Cloud KMS: its public key and algorithm are read once
// (cryptoKeyVersions.getPublicKey), which also proves the token and the address, and each digest
// is signed with one cryptoKeyVersions.asymmetricSign. The certificate comes from a file.
#include "cloud/OpenCloudKey.h"

// The service's address; QUILLORY_GCPKMS_ENDPOINT replaces it (tests).
inline constexpr const char* GoogleKmsEndpointVariable = "QUILLORY_GCPKMS_ENDPOINT";

TCloudKeyOpening OpenGoogleKmsKey(const TCloudKeyRequest& Request);
