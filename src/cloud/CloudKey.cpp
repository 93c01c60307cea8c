#include "cloud/CloudKey.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "common/Base64.h"

namespace {
using TKeyContext = std::unique_ptr<EVP_PKEY_CTX, TOpenSslFree<EVP_PKEY_CTX_free>>;

// The opening's deadline is not the signatures': a window's key lasts its whole batch, and each
// call keeps its own time limit.
TCloudLink SigningLink(TCloudLink Link) {
  Link.Deadline = TSteadyClock::time_point::max();
  return Link;
}
}  // namespace

TCloudKey::TCloudKey(std::string Service, std::vector<TX509> Certificates, std::shared_ptr<THostPace> Pace,
                     TCloudLink Link)
    : Service(std::move(Service)), Link(SigningLink(std::move(Link))), Certificates(std::move(Certificates)), Pace(std::move(Pace)) {}

std::vector<X509*> TCloudKey::Chain() const {
  std::vector<X509*> Others;
  for (std::size_t Index = 1; Index < Certificates.size(); ++Index) Others.push_back(Certificates[Index].get());
  return Others;
}

TKeySignature TCloudKey::Verified(std::vector<std::uint8_t> Signature, std::span<const std::uint8_t> Digest,
                                  const EVP_MD* Md) const {
  const TKeyContext Context(EVP_PKEY_CTX_new(X509_get0_pubkey(Certificate()), nullptr));
  if (Context && EVP_PKEY_verify_init(Context.get()) == 1 && EVP_PKEY_CTX_set_signature_md(Context.get(), Md) == 1 &&
      EVP_PKEY_verify(Context.get(), Signature.data(), Signature.size(), Digest.data(), Digest.size()) == 1)
    return {std::move(Signature), {}};
  return Failed({TCloudFailure::TKind::Malformed, "the signature it returned does not verify with the certificate"});
}

TKeySignature TCloudKey::SignatureIn(const TCloudAnswer& Answer, const char* Field, std::span<const std::uint8_t> Digest,
                                     const EVP_MD* Md) const {
  if (Answer.Failure) return Failed(Answer.Failure);
  const nlohmann::json Signed = nlohmann::json::parse(Answer.Body, nullptr, false);
  const auto Signature = Signed.is_object() ? Signed.find(Field) : Signed.end();
  if (!Signed.is_object() || Signature == Signed.end() || !Signature->is_string())
    return Failed({TCloudFailure::TKind::Malformed, "the answer has no signature"});
  return Verified(DecodeBase64(Signature->get<std::string>()), Digest, Md);
}

TKeySignature TCloudKey::Failed(const TCloudFailure& Failure) const { return {{}, DescribeCloudFailure(Failure, Service, LanguageOfEnvironment())}; }

bool PutSignerFirst(std::vector<TX509>& Certificates, EVP_PKEY* PublicKey) {
  const auto Signer = std::find_if(Certificates.begin(), Certificates.end(), [PublicKey](const TX509& Certificate) {
    return EVP_PKEY_eq(X509_get0_pubkey(Certificate.get()), PublicKey) == 1;
  });
  if (Signer == Certificates.end()) return false;
  std::rotate(Certificates.begin(), Signer, Signer + 1);
  return true;
}
