#include "common/Base64.h"

#include <openssl/evp.h>

#include <limits>
#include <memory>

#include "common/OpenSslPtr.h"

std::string EncodeBase64(std::span<const std::uint8_t> Bytes) {
  if (Bytes.size() > static_cast<std::size_t>(std::numeric_limits<int>::max() / 4 * 3 - 3)) return {};
  std::string Text((Bytes.size() + 2) / 3 * 4 + 1, '\0');
  const int Written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(Text.data()), Bytes.data(), static_cast<int>(Bytes.size()));
  Text.resize(static_cast<std::size_t>(Written));
  return Text;
}

std::vector<std::uint8_t> DecodeBase64(std::string_view Text) {
  std::unique_ptr<EVP_ENCODE_CTX, TOpenSslFree<EVP_ENCODE_CTX_free>> Context(EVP_ENCODE_CTX_new());
  if (!Context || Text.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) return {};
  std::vector<std::uint8_t> Bytes(Text.size() / 4 * 3 + 3);
  int Written = 0, Final = 0;
  EVP_DecodeInit(Context.get());
  if (EVP_DecodeUpdate(Context.get(), Bytes.data(), &Written, reinterpret_cast<const unsigned char*>(Text.data()),
                       static_cast<int>(Text.size())) < 0 ||
      EVP_DecodeFinal(Context.get(), Bytes.data() + Written, &Final) != 1)
    return {};
  Bytes.resize(static_cast<std::size_t>(Written + Final));
  return Bytes;
}

std::string EncodeBase64Url(std::span<const std::uint8_t> Bytes) {
  std::string Text = EncodeBase64(Bytes);
  while (!Text.empty() && Text.back() == '=') Text.pop_back();
  for (char& Character : Text) {
    if (Character == '+') Character = '-';
    if (Character == '/') Character = '_';
  }
  return Text;
}

std::vector<std::uint8_t> DecodeBase64Url(std::string_view Text) {
  std::string Standard(Text);
  for (char& Character : Standard) {
    if (Character == '+' || Character == '/') return {};
    if (Character == '-') Character = '+';
    if (Character == '_') Character = '/';
  }
  while (Standard.size() % 4 != 0) Standard += '=';
  return DecodeBase64(Standard);
}
