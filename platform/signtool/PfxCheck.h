#pragma once
// Why a PFX file cannot be used, told apart for the user.
#include <optional>
#include <string>

enum class TPfxState { Usable, CannotOpen, NotPfx, WrongPassword };

// Usable means the file is a PFX and the password opens it; its contents are left to the signer.
TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password);
