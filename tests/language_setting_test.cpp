#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "history/LanguageSetting.h"

namespace {
std::string Contents(const std::string& Path) {
  std::ostringstream Text;
  Text << std::ifstream(Path).rdbuf();
  return Text.str();
}
}  // namespace

TEST(LanguageSetting, WrittenChoiceIsReadBackAndLeavingItToTheLocaleRemovesOnlyTheKey) {
  const QTemporaryDir Dir;
  const std::string Config = Dir.filePath("config.ini").toStdString();
  std::ofstream(Config) << "[File]\n1=a.pfx\n[Options]\nSignParallelism=4\nLanguage=en\n";
  EXPECT_EQ(ReadLanguageSetting(Config), TLanguageSetting::English);

  WriteLanguageSetting(Config, TLanguageSetting::Chinese);
  EXPECT_EQ(ReadLanguageSetting(Config), TLanguageSetting::Chinese);
  EXPECT_NE(Contents(Config).find("Language=zh_CN\n"), std::string::npos) << Contents(Config);

  WriteLanguageSetting(Config, TLanguageSetting::FromLocale);
  EXPECT_EQ(ReadLanguageSetting(Config), TLanguageSetting::FromLocale);
  const std::string After = Contents(Config);
  EXPECT_EQ(After.find("Language"), std::string::npos) << After;
  EXPECT_NE(After.find("1=a.pfx"), std::string::npos) << After;
  EXPECT_NE(After.find("SignParallelism=4"), std::string::npos) << After;
}

TEST(LanguageSetting, AFileThatCannotBeWrittenIsReported) {
  const QTemporaryDir Dir;
  const std::string Config = Dir.filePath("missing-folder/config.ini").toStdString();
  EXPECT_EQ(ReadLanguageSetting(Config), TLanguageSetting::FromLocale);
  EXPECT_THROW(WriteLanguageSetting(Config, TLanguageSetting::English), std::runtime_error);
}
