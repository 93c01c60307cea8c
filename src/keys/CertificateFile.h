#pragma once
// Certificates from a file: a PEM bundle (one or more), or one DER certificate.
#include <optional>
#include <string>
#include <vector>

#include "common/OpenSslPtr.h"

// Nothing when the file cannot be read or holds no certificate.
std::optional<std::vector<TX509>> ReadCertificateFile(const std::string& Path);
