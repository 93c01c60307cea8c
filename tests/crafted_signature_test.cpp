// Signed files an attacker has reworked: bytes the digest does not cover must never ride along
// with a valid verdict, and damaged signed files must not pass for unsigned ones.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <variant>

#include "authenticode/VerifySignature.h"
#include "common/ByteReader.h"
#include "common/ByteWriter.h"
#include "common/PeHeaders.h"
#include "common/uPubFunc.h"
#include "support/CabFixtures.h"
#include "support/Osslsigncode.h"
#include "support/PeFixtures.h"
#include "support/Process.h"
#include "support/TestPki.h"
#include "support/TimestampServer.h"

namespace {
using TBytes = std::vector<std::uint8_t>;

TPeHeaders Headers(const TBytes& Bytes) { return std::get<TPeHeaders>(ReadPeHeaders(Bytes)); }

// The certificate table's directory entry now says Offset and Size.
void PointTableAt(TBytes& Bytes, std::uint32_t Offset, std::uint32_t Size) {
  const TPeHeaders Pe = Headers(Bytes);
  PutLe32(Bytes, *Pe.CertEntryPos, Offset);
  PutLe32(Bytes, *Pe.CertEntryPos + 4, Size);
}

void OpenSsl(const std::vector<std::string>& Args) {
  const TProcessResult Result = RunProcess("openssl", Args);
  ASSERT_EQ(Result.ExitCode, 0) << Result.Err;
}

class CraftedSignatureTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Folder = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(Folder->isValid());
    const TTestPki& Pki = TestPki();
    Trust = Path("trust.pem");
    std::ofstream TrustFile(Trust);
    for (const std::string& Root : {Pki.CaCertPath, Pki.TsaCaCertPath}) TrustFile << std::ifstream(Root).rdbuf();
    TrustFile.close();

    WriteBytes(Path("unsigned.exe"), BuildPe({TPeKind::Exe32, 64 * 1024, true}));
    WriteBytes(Path("unsigned64.dll"), BuildPe({TPeKind::Dll64, 64 * 1024}));
    TimestampServer Server;
    ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("signed.exe"), {"-ts", Server.Url()}));
    ASSERT_TRUE(OsslSign(Path("unsigned64.dll"), Path("signed64.dll"), {"-ts", Server.Url()}));
    WriteBytes(Path("unsigned.cab"), BuildCab("readme.txt", std::string(5000, 'q')));
    ASSERT_TRUE(OsslSign(Path("unsigned.cab"), Path("signed.cab"), {"-ts", Server.Url()}));
  }
  static void TearDownTestSuite() { Folder.reset(); }

  static std::string Path(const std::string& Name) { return Folder->filePath(QString::fromStdString(Name)).toStdString(); }

  static TVerifyResult Verify(const std::string& Name, const TBytes& Bytes) {
    WriteBytes(Path(Name), Bytes);
    return VerifySignature(Path(Name), Trust);
  }

  static inline std::unique_ptr<QTemporaryDir> Folder;
  static inline std::string Trust;
};

TEST_F(CraftedSignatureTest, ATableThatDoesNotEndTheImageIsRefused) {
  const TBytes Signed = ReadBytes(Path("signed.exe"));
  const TPeHeaders Pe = Headers(Signed);
  const TBytes Table(Signed.begin() + Pe.CertOffset, Signed.end());
  const TBytes Image(Signed.begin(), Signed.begin() + Pe.CertOffset);

  // The table moved to where the second section's data begins: that section now reads the table
  // and the attacker's bytes, while the digest of everything outside the table is unchanged.
  const std::uint32_t Second = (*Pe.Sections)[1].RawPos;
  TBytes Moved(Image.begin(), Image.begin() + Second);
  Moved.insert(Moved.end(), Table.begin(), Table.end());
  const std::string Attack(512, 'A');
  Moved.insert(Moved.end(), Attack.begin(), Attack.end());
  Moved.insert(Moved.end(), Image.begin() + Second, Image.end());
  PointTableAt(Moved, Second, static_cast<std::uint32_t>(Table.size() + Attack.size()));
  EXPECT_EQ(Verify("moved.exe", Moved).State, vsTampered);

  // Ending the file but starting inside the last section's data.
  TBytes Overlapping(Image.begin(), Image.end() - 8);
  Overlapping.insert(Overlapping.end(), Table.begin(), Table.end());
  PointTableAt(Overlapping, Pe.CertOffset - 8, Pe.CertSize);
  EXPECT_EQ(Verify("overlapping.exe", Overlapping).State, vsTampered);

  // Out of alignment, after four more bytes of the last section.
  TBytes Unaligned = Image;
  Unaligned.insert(Unaligned.end(), 4, 0);
  Unaligned.insert(Unaligned.end(), Table.begin(), Table.end());
  PointTableAt(Unaligned, Pe.CertOffset + 4, Pe.CertSize);
  EXPECT_EQ(Verify("unaligned.exe", Unaligned).State, vsTampered);

  TBytes Appended = Signed;
  Appended.insert(Appended.end(), Attack.begin(), Attack.end());
  EXPECT_EQ(Verify("appended.exe", Appended).State, vsTampered);
  for (const char* Name : {"moved.exe", "overlapping.exe", "appended.exe"})
    EXPECT_FALSE(OsslVerify(Path(Name)).SignatureOk) << Name;
}

TEST_F(CraftedSignatureTest, BytesInsideTheTableBeyondTheSignatureAreRefused) {
  const TBytes Signed = ReadBytes(Path("signed.exe"));
  const TPeHeaders Pe = Headers(Signed);
  const std::uint32_t EntryLength = ReadLe32(Signed, Pe.CertOffset);
  // The signature's own DER length: SEQUENCE with a two-byte length.
  ASSERT_EQ(Signed[Pe.CertOffset + 8 + 1], 0x82);
  const std::uint32_t Der = 4 + (Signed[Pe.CertOffset + 10] << 8 | Signed[Pe.CertOffset + 11]);
  const std::string Payload(4096, 'P');

  TBytes Enlarged = Signed;  // the table grown over an appended payload
  Enlarged.insert(Enlarged.end(), Payload.begin(), Payload.end());
  PointTableAt(Enlarged, Pe.CertOffset, static_cast<std::uint32_t>(Pe.CertSize + Payload.size()));
  EXPECT_EQ(Verify("enlarged.exe", Enlarged).State, vsTampered);

  TBytes Second = Signed;  // a second entry after the first
  Second.insert(Second.end(), Signed.begin() + Pe.CertOffset, Signed.end());
  PointTableAt(Second, Pe.CertOffset, Pe.CertSize * 2);
  EXPECT_EQ(Verify("second-entry.exe", Second).State, vsTampered);

  TBytes Padded = Signed;  // the entry's own length stretched over the payload
  Padded.insert(Padded.end(), Payload.begin(), Payload.end());
  PointTableAt(Padded, Pe.CertOffset, static_cast<std::uint32_t>(Pe.CertSize + Payload.size()));
  PutLe32(Padded, Pe.CertOffset, static_cast<std::uint32_t>(EntryLength + Payload.size()));
  EXPECT_EQ(Verify("stretched-entry.exe", Padded).State, vsTampered);

  // A few non-zero bytes after the DER inside the padding the table may have.
  TBytes Dirty(Signed.begin(), Signed.begin() + Pe.CertOffset + 8 + Der);
  Dirty.insert(Dirty.end(), 8 - Der % 8 == 8 ? 8 : 8 - Der % 8, 0xEE);
  PointTableAt(Dirty, Pe.CertOffset, static_cast<std::uint32_t>(Dirty.size() - Pe.CertOffset));
  PutLe32(Dirty, Pe.CertOffset, static_cast<std::uint32_t>(Dirty.size() - Pe.CertOffset));
  EXPECT_EQ(Verify("dirty-padding.exe", Dirty).State, vsTampered);

  // The valid neighbour: the entry's length without padding, zeros to the table's end.
  TBytes Odd(Signed.begin(), Signed.begin() + Pe.CertOffset + 8 + Der);
  Odd.insert(Odd.end(), (8 - Der % 8) % 8, 0);
  PointTableAt(Odd, Pe.CertOffset, static_cast<std::uint32_t>(Odd.size() - Pe.CertOffset));
  PutLe32(Odd, Pe.CertOffset, 8 + Der);
  const TVerifyResult OddResult = Verify("odd-length.exe", Odd);
  EXPECT_EQ(OddResult.State, vsValid) << OddResult.Message;

  TBytes Revision = Signed;  // only revision 2.0 is Authenticode's
  Revision[Pe.CertOffset + 5] = 0x01;
  EXPECT_EQ(Verify("revision.exe", Revision).State, vsUnreadable);
  for (const char* Name : {"enlarged.exe", "second-entry.exe"})
    EXPECT_FALSE(OsslVerify(Path(Name)).SignatureOk) << Name;
}

TEST_F(CraftedSignatureTest, DamagedSignedFilesAreNotCalledUnsigned) {
  TBytes Narrowed = ReadBytes(Path("signed64.dll"));  // PE32+ read as PE32
  const TPeHeaders Pe = Headers(Narrowed);
  Narrowed[Pe.NtOffset + 24] = 0x0B;
  Narrowed[Pe.NtOffset + 25] = 0x01;
  const TVerifyResult NarrowedResult = Verify("narrowed.dll", Narrowed);
  EXPECT_EQ(NarrowedResult.State, vsTampered) << NarrowedResult.Message;

  TBytes FewerDirectories = ReadBytes(Path("signed64.dll"));
  PutLe32(FewerDirectories, Pe.NtOffset + 24 + 108, 4);
  EXPECT_EQ(Verify("fewer-directories.dll", FewerDirectories).State, vsTampered);

  TBytes CutCab = ReadBytes(Path("signed.cab"));
  CutCab.resize(50);  // inside the reserved header
  EXPECT_EQ(Verify("cut.cab", CutCab).State, vsUnreadable);

  // The checksum is outside the digest: changing it spoils nothing.
  TBytes CheckSum = ReadBytes(Path("signed64.dll"));
  CheckSum[Pe.CheckSumPos] ^= 0x5A;
  EXPECT_EQ(Verify("checksum.dll", CheckSum).State, vsValid);
}

TEST_F(CraftedSignatureTest, CabinetSignaturesMustEndTheFile) {
  const TBytes Signed = ReadBytes(Path("signed.cab"));
  const std::uint32_t SignaturePos = ReadLe32(Signed, 44);
  const std::uint32_t SignatureSize = ReadLe32(Signed, 48);
  const std::string Payload(64, 'P');

  TBytes Extended = Signed;
  Extended.insert(Extended.end(), Payload.begin(), Payload.end());
  PutLe32(Extended, 48, static_cast<std::uint32_t>(SignatureSize + Payload.size()));
  EXPECT_EQ(Verify("extended.cab", Extended).State, vsTampered);

  // Moved to where the data blocks begin: the folder's data now starts inside the signature.
  const std::uint32_t DataPos = ReadLe32(Signed, 60);
  TBytes Moved(Signed.begin(), Signed.begin() + DataPos);
  Moved.insert(Moved.end(), Signed.begin() + SignaturePos, Signed.end());
  Moved.insert(Moved.end(), Signed.begin() + DataPos, Signed.begin() + SignaturePos);
  PutLe32(Moved, 44, DataPos);
  EXPECT_EQ(Verify("moved.cab", Moved).State, vsTampered);

  TBytes Appended = Signed;
  Appended.insert(Appended.end(), Payload.begin(), Payload.end());
  EXPECT_EQ(Verify("appended.cab", Appended).State, vsTampered);
  EXPECT_EQ(Verify("intact.cab", Signed).State, vsValid);
}

TEST_F(CraftedSignatureTest, AHugeSparseTableIsRefusedUnread) {
  TBytes Bytes = ReadBytes(Path("signed.exe"));
  const TPeHeaders Pe = Headers(Bytes);
  const std::uint32_t Huge = 3u << 30;
  PointTableAt(Bytes, Pe.CertOffset, Huge);
  WriteBytes(Path("huge.exe"), Bytes);
  ASSERT_EQ(::truncate(Path("huge.exe").c_str(), static_cast<off_t>(std::uint64_t{Pe.CertOffset} + Huge)), 0);

  rusage Before{};
  getrusage(RUSAGE_SELF, &Before);
  const TVerifyResult Result = VerifySignature(Path("huge.exe"), Trust);
  rusage After{};
  getrusage(RUSAGE_SELF, &After);
  EXPECT_EQ(Result.State, vsUnreadable) << Result.Message;
  EXPECT_LT(After.ru_maxrss - Before.ru_maxrss, 50 * 1024) << "KiB more at the peak";
  std::string Error;
  EXPECT_FALSE(StripSignature(Path("huge.exe"), Error));
  EXPECT_EQ(std::filesystem::file_size(Path("huge.exe")), std::uint64_t{Pe.CertOffset} + Huge);
}

TEST_F(CraftedSignatureTest, WeakDigestsAndWrongPurposes) {
  ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("md5.exe"), {"-h", "md5"}));
  const TVerifyResult Md5 = VerifySignature(Path("md5.exe"), Trust);
  EXPECT_EQ(Md5.State, vsUntrusted) << Md5.Message;
  EXPECT_NE(Md5.Message.find("MD5"), std::string::npos) << Md5.Message;

  ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("sha1.exe"), {"-h", "sha1"}));
  ASSERT_TRUE(OsslSign(Path("unsigned.exe"), Path("sha512.exe"), {"-h", "sha512"}));
  const TVerifyResult Sha1 = VerifySignature(Path("sha1.exe"), Trust);
  const TVerifyResult Sha512 = VerifySignature(Path("sha512.exe"), Trust);
  EXPECT_EQ(Sha1.State, vsValidNoTimestamp) << Sha1.Message;
  EXPECT_EQ(Sha512.State, vsValidNoTimestamp) << Sha512.Message;
  EXPECT_NE(Sha1.Message.find("SHA-1"), std::string::npos) << Sha1.Message;
  EXPECT_EQ(Sha512.Message.find("SHA-1"), std::string::npos) << Sha512.Message;

  // A chain of our own: a root, a CA restricted to server authentication, and leaves.
  const std::string Extensions = Path("extensions.cnf");
  std::ofstream(Extensions) << "[ca]\nbasicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign\n"
                               "extendedKeyUsage=serverAuth\n"
                               "[leaf]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
                               "extendedKeyUsage=codeSigning\n"
                               "[bare]\nbasicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n";
  const auto MakeCert = [&](const std::string& Name, const std::string& Issuer, const std::string& Section) {
    OpenSsl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", Path(Name + ".key"), "-out",
             Path(Name + ".csr"), "-subj", "/CN=" + Name});
    OpenSsl({"x509", "-req", "-in", Path(Name + ".csr"), "-CA", Path(Issuer + ".pem"), "-CAkey",
             Path(Issuer + ".key"), "-set_serial", "7", "-days", "30", "-out", Path(Name + ".pem"), "-extfile",
             Extensions, "-extensions", Section});
  };
  OpenSsl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", Path("root.key"), "-out", Path("root.pem"),
           "-days", "30", "-subj", "/CN=Crafted Root", "-addext", "basicConstraints=critical,CA:TRUE"});
  MakeCert("server-ca", "root", "ca");
  MakeCert("leaf", "server-ca", "leaf");
  MakeCert("bare", "root", "bare");
  std::ofstream(Path("leaf-chain.pem")) << std::ifstream(Path("leaf.pem")).rdbuf()
                                        << std::ifstream(Path("server-ca.pem")).rdbuf();
  const auto SignWith = [&](const std::string& Chain, const std::string& Key, const std::string& Out) {
    const TProcessResult Result = RunProcess("osslsigncode", {"sign", "-certs", Path(Chain), "-key", Path(Key),
                                                              "-in", Path("unsigned.exe"), "-out", Path(Out)});
    ASSERT_EQ(Result.ExitCode, 0) << Result.Out << Result.Err;
  };
  SignWith("leaf-chain.pem", "leaf.key", "server-ca.exe");
  SignWith("bare.pem", "bare.key", "bare.exe");
  const TVerifyResult ServerCa = VerifySignature(Path("server-ca.exe"), Path("root.pem"));
  EXPECT_EQ(ServerCa.State, vsUntrusted) << ServerCa.Message;
  const TVerifyResult Bare = VerifySignature(Path("bare.exe"), Path("root.pem"));
  EXPECT_EQ(Bare.State, vsValidNoTimestamp) << Bare.Message;
}

TEST_F(CraftedSignatureTest, TheStripperGoesByTheSameRules) {
  TBytes Appended = ReadBytes(Path("signed.exe"));
  Appended.insert(Appended.end(), 100, 'A');
  WriteBytes(Path("strip-appended.exe"), Appended);
  std::string Error;
  EXPECT_FALSE(StripSignature(Path("strip-appended.exe"), Error));
  EXPECT_FALSE(Error.empty());
  EXPECT_EQ(ReadBytes(Path("strip-appended.exe")), Appended);

  // A cabinet stripped is the cabinet that was signed, and signs again.
  std::filesystem::copy_file(Path("signed.cab"), Path("strip.cab"));
  ASSERT_TRUE(StripSignature(Path("strip.cab"), Error)) << Error;
  EXPECT_EQ(ReadBytes(Path("strip.cab")), ReadBytes(Path("unsigned.cab")));
  EXPECT_EQ(VerifySignature(Path("strip.cab"), Trust).State, vsUnsigned);
  EXPECT_FALSE(StripSignature(Path("strip.cab"), Error));
  ASSERT_TRUE(OsslSign(Path("strip.cab"), Path("strip.cab")));
  EXPECT_EQ(VerifySignature(Path("strip.cab"), Trust).State, vsValidNoTimestamp);
}
}  // namespace
