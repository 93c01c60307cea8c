// Reading and writing pkcs11: URIs.
#include <gtest/gtest.h>

#include "common/Pkcs11Uri.h"

TEST(Pkcs11Uri, ReadsPathAndQueryAttributesDecoded) {
  const auto Uri = ParsePkcs11Uri("PKCS11:Token=My%20Key;id=%01%ff;object=a%3bb?module-path=/opt/hsm/p11.so&pin-value=1");
  ASSERT_TRUE(Uri);
  EXPECT_EQ(Uri->Get("token"), "My Key");
  EXPECT_EQ(Uri->Get("id"), std::string("\x01\xff", 2));
  EXPECT_EQ(Uri->Get("object"), "a;b");
  EXPECT_EQ(Uri->Get("serial"), std::nullopt);
  EXPECT_EQ(Uri->GetQuery("module-path"), "/opt/hsm/p11.so");
  EXPECT_EQ(Uri->Get("module-path"), std::nullopt);
  // An empty path is a URI too: it names every object.
  EXPECT_TRUE(ParsePkcs11Uri("pkcs11:"));
  EXPECT_TRUE(ParsePkcs11Uri("pkcs11:;;token=x;"));
}

TEST(Pkcs11Uri, RefusesWhatIsNotOne) {
  for (const char* Text : {"/certs/key.pfx", "pkcs11", "pkcs12:token=x", "pkcs11:token", "pkcs11:=x",
                           "pkcs11:id=%0", "pkcs11:id=%", "pkcs11:id=%g1", "pkcs11:token=x?module-path=%zz"})
    EXPECT_FALSE(ParsePkcs11Uri(Text)) << Text;
  EXPECT_TRUE(IsPkcs11Uri("Pkcs11:whatever"));
  EXPECT_FALSE(IsPkcs11Uri(" pkcs11:token=x"));
}

TEST(Pkcs11Uri, WritesWhatItReadsWithReservedCharactersEncoded) {
  TPkcs11Uri Uri;
  Uri.Set("token", "A;B?C&D=E %");
  Uri.Set("id", "ab");
  Uri.Query.emplace_back("module-path", "/opt/my hsm/p11.so");
  const std::string Text = Uri.ToString();
  EXPECT_EQ(Text, "pkcs11:token=A%3BB%3FC%26D=E%20%25;id=%61%62?module-path=/opt/my%20hsm/p11.so");
  const auto Again = ParsePkcs11Uri(Text);
  ASSERT_TRUE(Again);
  EXPECT_EQ(Again->Path, Uri.Path);
  EXPECT_EQ(Again->Query, Uri.Query);

  // Set replaces in place, Remove takes every attribute of the name.
  Uri.Set("token", "T");
  Uri.Set("type", "cert");
  Uri.Remove("id");
  EXPECT_EQ(Uri.ToString(), "pkcs11:token=T;type=cert?module-path=/opt/my%20hsm/p11.so");
}
