#include "keys/CertificateFile.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include "common/SmallFileRead.h"

namespace {
// A certificate file is a few kilobytes; anything far larger is not one.
constexpr std::size_t MaxCertificateFileSize = std::size_t{16} << 20;
}  // namespace

std::optional<std::vector<TX509>> ReadCertificateFile(const std::string& Path) {
  std::string Bytes;
  if (ReadSmallFile(Path, MaxCertificateFileSize, Bytes) != TSmallFileRead::Read) return std::nullopt;
  std::vector<TX509> Certificates;
  const TBio Pem(BIO_new_mem_buf(Bytes.data(), static_cast<int>(Bytes.size())));
  while (Pem) {
    TX509 Certificate(PEM_read_bio_X509(Pem.get(), nullptr, nullptr, nullptr));
    if (!Certificate) break;
    Certificates.push_back(std::move(Certificate));
  }
  ERR_clear_error();  // the end of the bundle reads as an error
  if (Certificates.empty()) {
    const auto* Der = reinterpret_cast<const unsigned char*>(Bytes.data());
    TX509 Certificate(d2i_X509(nullptr, &Der, static_cast<long>(Bytes.size())));
    ERR_clear_error();
    if (!Certificate) return std::nullopt;
    Certificates.push_back(std::move(Certificate));
  }
  return Certificates;
}
