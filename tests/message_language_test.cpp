// signtool.exe in the user's language: the catalogue both languages come from, the locale a run
// follows, and each command's texts in Chinese and in English behind the fixed prefixes.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QXmlStreamReader>

#include <algorithm>

#include <map>

#include "common/MessageCatalogue.h"
#include "common/ProcessRunner.h"
#include "support/PeFixtures.h"
#include "support/TestPki.h"

namespace {
std::string SignTool() { return QCoreApplication::applicationDirPath().toStdString() + "/signtool.exe"; }

bool HasNonAscii(std::string_view Text) {
  return std::any_of(Text.begin(), Text.end(), [](char Byte) { return static_cast<unsigned char>(Byte) >= 0x80; });
}

using TLocale = std::map<std::string, std::string>;

// signtool.exe under the locale variables given; the others are empty, which counts as unset.
TRunResult SignToolIn(const TLocale& Locale, const std::vector<std::string>& Arguments) {
  TLocale Variables{{"QUILLORY_LANGUAGE", ""}, {"LANGUAGE", ""}, {"LC_ALL", ""}, {"LC_MESSAGES", ""}, {"LANG", ""}};
  for (const auto& [Name, Value] : Locale) Variables[Name] = Value;
  TRunRequest Request;
  Request.Program = SignTool();
  Request.Arguments = {"signtool.exe"};
  Request.Arguments.insert(Request.Arguments.end(), Arguments.begin(), Arguments.end());
  Request.Environment.assign(Variables.begin(), Variables.end());
  Request.KeepOutput = true;
  return RunProcess(Request);
}

const TLocale English{{"LANG", "en_US.UTF-8"}};
const TLocale Chinese{{"LANG", "zh_CN.UTF-8"}};

class MessageLanguage : public ::testing::Test {
 protected:
  std::string Program(const std::string& Name) const {
    const std::string Path = Folder.filePath(QString::fromStdString(Name)).toStdString();
    WriteBytes(Path, BuildPe({TPeKind::Exe64, 64 * 1024}));
    return Path;
  }
  QTemporaryDir Folder;
};
}  // namespace

TEST(MessageCatalogue, EachMessageHasBothLanguagesWithTheSamePlaceholders) {
  const auto Last = static_cast<int>(TMessage::TimestampServerRequired);
  for (int Index = 0; Index <= Last; ++Index) {
    const auto Message = static_cast<TMessage>(Index);
    const std::initializer_list<std::string_view> Marks{"<1>", "<2>"};
    const std::string InEnglish = MessageText(Message, TMessageLanguage::English, Marks);
    const std::string InChinese = MessageText(Message, TMessageLanguage::Chinese, Marks);
    EXPECT_FALSE(HasNonAscii(InEnglish)) << Index << ": " << InEnglish;
    EXPECT_NE(InEnglish, InChinese) << Index;
    for (const std::string_view Mark : Marks)
      EXPECT_EQ(InEnglish.find(Mark) == std::string::npos, InChinese.find(Mark) == std::string::npos)
          << Index << ": " << InEnglish << " / " << InChinese;
    EXPECT_EQ(InEnglish.find('%'), std::string::npos) << Index << ": " << InEnglish;
  }
  // Arguments are put in once: their own placeholders stay.
  EXPECT_EQ(MessageText(TMessage::CannotOpen, TMessageLanguage::English, {"a%2b.exe", "No such file"}),
            "Unable to open a%2b.exe: No such file");
  EXPECT_EQ(MessageText(TMessage::CannotOpen, TMessageLanguage::Chinese, {"文件.exe", "%1"}), "无法打开文件.exe：%1");
}

// signtool.exe must word the verifier's and stripper's texts as the English window does.
TEST(MessageCatalogue, TheMarkedTextsReadInEnglishAsTheWindowTranslatesThem) {
  QFile Ts(QUILLORY_SOURCE_DIR "/translations/quillory_en.ts");
  ASSERT_TRUE(Ts.open(QIODevice::ReadOnly));
  QXmlStreamReader Xml(&Ts);
  QString Context, Source;
  int Compared = 0;
  while (!Xml.atEnd()) {
    if (!Xml.readNextStartElement()) continue;
    if (Xml.name() == u"name") Context = Xml.readElementText();
    if (Xml.name() == u"source") Source = Xml.readElementText();
    if (Xml.name() != u"translation" || (Context != "VerifySignature" && Context != "StripSignature" && Context != "CloudFailure")) continue;
    const std::string Chinese = Source.toStdString();
    EXPECT_EQ(MarkedTextIn(TMessageLanguage::English, Chinese), Xml.readElementText().toStdString()) << Chinese;
    EXPECT_EQ(MarkedTextIn(TMessageLanguage::Chinese, Chinese), Chinese);
    ++Compared;
  }
  EXPECT_GT(Compared, 50);
}

TEST_F(MessageLanguage, ARunFollowsTheWindowsVariableElseTheFirstLocaleVariableSet) {
  const std::string File = Program("app.exe");
  const std::vector<std::string> WrongPassword{"sign", "/f", TestPki().PfxPath, "/p", "not it", File};
  const std::string InEnglish = "SignTool Error: The specified PFX password is not correct.\n";
  const std::string InChinese = "SignTool Error: 指定的PFX密码不正确。\n";
  const std::vector<std::pair<TLocale, std::string>> Cases{
      {English, InEnglish},
      {Chinese, InChinese},
      {{}, InEnglish},
      {{{"LANG", "C"}}, InEnglish},
      {{{"LANG", "zh_TW.Big5"}}, InChinese},
      {{{"LC_MESSAGES", "zh_CN.UTF-8"}, {"LANG", "en_GB.UTF-8"}}, InChinese},
      {{{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "zh_CN.UTF-8"}}, InEnglish},
      {{{"LANGUAGE", "zh_CN:en_US"}, {"LC_ALL", "en_US.UTF-8"}}, InChinese},
      {{{"LANGUAGE", "en"}, {"LANG", "zh_CN.UTF-8"}}, InEnglish},
      {{{"QUILLORY_LANGUAGE", "en"}, {"LANGUAGE", "zh_CN"}}, InEnglish},
      {{{"QUILLORY_LANGUAGE", "zh_CN"}, {"LANG", "en_US.UTF-8"}}, InChinese}};
  for (const auto& [Locale, Expected] : Cases) {
    const TRunResult Run = SignToolIn(Locale, WrongPassword);
    std::string Named;
    for (const auto& [Name, Value] : Locale) Named += Name + "=" + Value + " ";
    EXPECT_EQ(Run.ExitCode, 1) << Named;
    EXPECT_EQ(Run.Errors, Expected) << Named;
  }
  EXPECT_EQ(ReadBytes(File), BuildPe({TPeKind::Exe64, 64 * 1024}));
}

TEST_F(MessageLanguage, VerifyAndRemoveSpeakOneLanguageThroughout) {
  const std::string Signed = Program("signed.exe");
  const std::string Unsigned = Program("unsigned.exe");
  ASSERT_TRUE(SignToolIn(English, {"sign", "/q", "/f", TestPki().PfxPath, "/p", TestPki().PfxPassword, Signed})
                  .Succeeded());

  // Without the test root the signer's chain is not trusted.
  const TRunResult EnglishVerify = SignToolIn(English, {"verify", "/pa", "/v", Signed});
  EXPECT_EQ(EnglishVerify.ExitCode, 1);
  EXPECT_FALSE(HasNonAscii(EnglishVerify.Output + EnglishVerify.Errors)) << EnglishVerify.Output << EnglishVerify.Errors;
  EXPECT_NE(EnglishVerify.Output.find("\nVerdict: The signing certificate's chain is not trusted"), std::string::npos)
      << EnglishVerify.Output;
  EXPECT_EQ(EnglishVerify.Errors,
            "SignTool Error: A certificate chain processed, but terminated in a root certificate which is not "
            "trusted by the trust provider. " + Signed + "\n");

  const TRunResult ChineseVerify = SignToolIn(Chinese, {"verify", "/pa", "/v", Signed, Unsigned});
  EXPECT_EQ(ChineseVerify.Output.rfind("正在验证：" + Signed + "\n", 0), 0u) << ChineseVerify.Output;
  EXPECT_NE(ChineseVerify.Output.find("\n结论：签名证书链不受信任"), std::string::npos) << ChineseVerify.Output;
  EXPECT_NE(ChineseVerify.Output.find("\n时间戳：无\n"), std::string::npos) << ChineseVerify.Output;
  EXPECT_NE(ChineseVerify.Output.find("\n结论：文件没有签名\n"), std::string::npos) << ChineseVerify.Output;
  EXPECT_NE(ChineseVerify.Output.find("\n验证成功的文件数：0\n警告数：0\n错误数：2\n"), std::string::npos)
      << ChineseVerify.Output;
  EXPECT_EQ(ChineseVerify.Errors, "SignTool Error: 已处理证书链，但其根证书不受信任提供程序信任。 " + Signed +
                                      "\nSignTool Error: 找不到签名。 " + Unsigned + "\n");

  const TRunResult EnglishRemove = SignToolIn(English, {"remove", "/s", Unsigned});
  EXPECT_EQ(EnglishRemove.Errors, "SignTool Error: The file is not signed: " + Unsigned + "\n");
  const TRunResult ChineseRemove = SignToolIn(Chinese, {"remove", "/s", "/v", Signed, Unsigned});
  EXPECT_EQ(ChineseRemove.Output, "删除签名成功：" + Signed + "\n\n修改成功的文件数：1\n错误数：1\n");
  EXPECT_EQ(ChineseRemove.Errors, "SignTool Error: 文件没有签名：" + Unsigned + "\n");
}
