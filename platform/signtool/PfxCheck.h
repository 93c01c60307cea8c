#pragma once
// Why a PFX file cannot be used, told apart for the user.
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
