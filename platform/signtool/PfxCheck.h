#pragma once
// Opening PFX files: why one cannot be used, told apart for the user, and an unprotected copy.
#include <optional>
#include <string>

enum class TPfxState {
  Usable,  // a PFX that the password opens; its contents are left to the signer
  CannotOpen,
  NotPfx,
  WrongPassword,
  Unknown  // libcrypto could not be loaded to look
};

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password);

// The PFX's key and certificates repackaged without any password, for a password that cannot
// reach osslsigncode unchanged. Empty when the PFX cannot be opened with Password.
std::optional<std::string> UnprotectedPfx(const std::string& Path, const std::string& Password);
