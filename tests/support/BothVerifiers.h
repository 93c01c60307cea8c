#pragma once
// A file signed and timestamped as both the project's verifier and osslsigncode see it, against
// the test PKI's CA and TSA CA.
#include <gtest/gtest.h>

#include <string>

::testing::AssertionResult SignedAndStampedForBoth(const std::string& File);
