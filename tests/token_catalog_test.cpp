// Listing the certificates on PKCS#11 tokens, with a SoftHSM2 token made for the test.
#include <gtest/gtest.h>

#include <algorithm>

#include "keys/TokenCatalog.h"
#include "support/SoftToken.h"
#include "support/TestPki.h"

namespace {
const TTokenCertificate* WithThumbprint(const TTokenListing& Listing, const std::string& Sha1) {
  const auto Found = std::find_if(Listing.Certificates.begin(), Listing.Certificates.end(),
                                  [&Sha1](const TTokenCertificate& C) { return C.Sha1 == Sha1; });
  return Found == Listing.Certificates.end() ? nullptr : &*Found;
}
}  // namespace

TEST(TokenCatalog, ListsEachCertificateWithItsTokenAndFacts) {
  const TSoftToken& Token = SoftToken();
  const TTokenListing Listing = ListTokenCertificates(Token.Module);
  ASSERT_TRUE(Listing.ModuleLoaded);
  ASSERT_EQ(Listing.Certificates.size(), 2u);
  const TTokenCertificate* Ec = WithThumbprint(Listing, Token.EcSha1);
  ASSERT_NE(Ec, nullptr);
  EXPECT_EQ(Ec->TokenLabel, Token.Label);
  EXPECT_EQ(Ec->TokenSerial, Token.Serial);
  EXPECT_EQ(Ec->Id, "\x02");
  EXPECT_EQ(Ec->CommonName, TestPki().EcSignerCommonName);
  EXPECT_EQ(Ec->Subject, "CN=" + TestPki().EcSignerCommonName);
  EXPECT_EQ(Ec->Issuer, "CN=Quillory Test Root CA");
  EXPECT_EQ(Ec->NotAfter.size(), 19u) << Ec->NotAfter;
  // SoftHSM shows private keys only after login.
  EXPECT_EQ(Ec->PrivateKey, TKeyPresence::Unknown);
  EXPECT_EQ(UriOf(*Ec).ToString(), Token.EcKeyUri);
}

TEST(TokenCatalog, TheProxyReachesTheTokenButNotTheSystemsTrustList) {
  const TSoftToken& Token = SoftToken();
  const TTokenListing Listing = ListTokenCertificates(DefaultPkcs11Module());
  ASSERT_TRUE(Listing.ModuleLoaded);
  EXPECT_NE(WithThumbprint(Listing, Token.RsaSha1), nullptr);
  for (const TTokenCertificate& Certificate : Listing.Certificates)
    EXPECT_NE(Certificate.PrivateKey, TKeyPresence::Absent) << Certificate.TokenLabel << ": " << Certificate.Subject;

  EXPECT_FALSE(ListTokenCertificates("/nonexistent/pkcs11-module.so").ModuleLoaded);
}

TEST(TokenCatalog, AUriSelectsByTheAttributesItHas) {
  TTokenCertificate Certificate;
  Certificate.TokenLabel = "Card";
  Certificate.TokenSerial = "42";
  Certificate.Id = "\x01";
  Certificate.Label = "Signing";
  const auto Selects = [&Certificate](const char* Text) { return UriSelects(*ParsePkcs11Uri(Text), Certificate); };
  EXPECT_TRUE(Selects("pkcs11:"));
  EXPECT_TRUE(Selects("pkcs11:token=Card;id=%01"));
  EXPECT_TRUE(Selects("pkcs11:serial=42;object=Signing;type=private"));
  EXPECT_FALSE(Selects("pkcs11:token=Card;id=%02"));
  EXPECT_FALSE(Selects("pkcs11:token=card;id=%01"));
  EXPECT_FALSE(Selects("pkcs11:serial=43"));
  EXPECT_FALSE(Selects("pkcs11:object=Signing%20key"));
  // A certificate without an id is named by its label.
  Certificate.Id.clear();
  EXPECT_EQ(UriOf(Certificate).ToString(), "pkcs11:token=Card;object=Signing");
}
