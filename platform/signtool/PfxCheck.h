#pragma once
// Why a PFX file cannot be used, told apart for the user.
#include <optional>
#include <string>

enum class TPfxState { Usable, CannotOpen, NotPfx, WrongPassword, NoKeyOrCertificate };

TPfxState CheckPfx(const std::string& Path, const std::optional<std::string>& Password);
