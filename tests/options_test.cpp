// The [Options] section of config.ini and the options dialog behind the list's pop-up menu.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QMenu>
#include <QSpinBox>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <functional>
#include <iterator>
#include <optional>

#include "app/Language.h"
#include "history/LanguageSetting.h"
#include "history/OptionsStore.h"
#include "support/PromptRecorder.h"
#include "ui/ConfigFile.h"
#include "ui/FileDialogs.h"
#include "ui/TFrmOptions.h"
#include "ui/uFrmMain.h"

namespace {
std::string ReadText(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

class Options : public ::testing::Test {
 protected:
  QTemporaryDir Folder;
  std::string ConfigPath = QDir(Folder.path()).filePath("config.ini").toStdString();

  void WriteConfig(const std::string& Text) { std::ofstream(ConfigPath, std::ios::binary) << Text; }
};

TEST_F(Options, ParallelismIsReadAsTheNearestAllowedValue) {
  const std::vector<std::pair<std::string, int>> Cases = {
      {"3", 3},  {" 5 ", 5}, {"+2", 2},  {"0", 1},  {"-7", 1},         {"9", 8},
      {"4000000000000000000000", 8}, {"-4000000000000000000000", 1}, {"", 1}, {"two", 1}, {"4x", 1}, {"-", 1}};
  for (const auto& [Value, Expected] : Cases) {
    WriteConfig("[File]\n1=a.pfx\n[Options]\nSignParallelism=" + Value + "\n");
    const std::string Before = ReadText(ConfigPath);
    EXPECT_EQ(ReadSignParallelism(ConfigPath), Expected) << "'" << Value << "'";
    EXPECT_EQ(ReadText(ConfigPath), Before);
  }
  WriteConfig("[File]\n1=a.pfx\n");
  EXPECT_EQ(ReadSignParallelism(ConfigPath), 1);
  EXPECT_EQ(ReadSignParallelism(QDir(Folder.path()).filePath("missing.ini").toStdString()), 1);
}

TEST_F(Options, TimestampIntervalIsMillisecondsInItsRange) {
  const std::vector<std::pair<std::string, int>> Cases = {
      {"250", 250}, {"0", 0}, {"-40", 0}, {"600000", 60000}, {"99999999999999999999", 60000}, {"1.5", 0}, {"", 0}};
  for (const auto& [Value, Expected] : Cases) {
    WriteConfig("[Options]\nTimestampInterval=" + Value + "\n");
    EXPECT_EQ(ReadTimestampInterval(ConfigPath).count(), Expected) << "'" << Value << "'";
  }
}

TEST_F(Options, WritingKeepsTheHistoriesAndOtherKeys) {
  WriteConfig("[File]\n1=a.pfx\n[Options]\nLanguage=en\nSignParallelism=2\n[TimeStamp]\n1=http://t\n");
  WriteSignParallelism(ConfigPath, 6);
  const std::string Config = ReadText(ConfigPath);
  EXPECT_EQ(ReadSignParallelism(ConfigPath), 6);
  for (const char* Kept : {"[File]\n1=a.pfx\n", "Language=en\n", "[TimeStamp]\n1=http://t\n"})
    EXPECT_NE(Config.find(Kept), std::string::npos) << Kept << " in\n" << Config;
  EXPECT_EQ(Config.find("SignParallelism=2"), std::string::npos) << Config;

  const std::string Unwritable = QDir(Folder.path()).filePath("no such folder/config.ini").toStdString();
  EXPECT_THROW(WriteSignParallelism(Unwritable, 3), std::runtime_error);
}

class OptionsDialog : public Options {
 protected:
  PromptRecorder Prompts;
  TFrmMain Frm;

  void SetUp() override {
    ASSERT_TRUE(Folder.isValid());
    Frm.FConfigFile = ConfigPath;
  }

  // Opens the dialog from the list's pop-up menu; Answer sees it while it is open. Returns the
  // value the dialog showed.
  std::optional<int> OpenDialog(const std::function<void(TFrmOptions&)>& Answer) {
    std::optional<int> Shown;
    QTimer::singleShot(0, [&] {
      auto* Dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget());
      if (Dialog == nullptr) return;
      Shown = Dialog->edtSignParallelism->value();
      Answer(*Dialog);
    });
    EXPECT_TRUE(Frm.PopupMenu->actions().contains(Frm.pmiOptions));
    Frm.pmiOptions->trigger();
    return Shown;
  }
};

TEST_F(OptionsDialog, ShowsTheNearestValueAndWritesOnlyAChange) {
  WriteConfig("[Options]\nSignParallelism=42\n");
  const std::string Before = ReadText(ConfigPath);
  EXPECT_EQ(OpenDialog([](TFrmOptions& Dialog) { Dialog.reject(); }), 8);
  EXPECT_EQ(ReadText(ConfigPath), Before);
  EXPECT_EQ(OpenDialog([](TFrmOptions& Dialog) { Dialog.accept(); }), 8);
  EXPECT_EQ(ReadText(ConfigPath), Before);

  EXPECT_EQ(OpenDialog([](TFrmOptions& Dialog) {
              Dialog.edtSignParallelism->setValue(3);
              Dialog.accept();
            }),
            8);
  EXPECT_EQ(ReadSignParallelism(ConfigPath), 3);
  // The box offers only the allowed range.
  OpenDialog([](TFrmOptions& Dialog) {
    Dialog.edtSignParallelism->setValue(100);
    Dialog.accept();
  });
  EXPECT_EQ(ReadSignParallelism(ConfigPath), 8);
  EXPECT_NE(ReadText(ConfigPath).find("SignParallelism=8"), std::string::npos);
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(OptionsDialog, TrustFileIsShownPickedAndRemoved) {
  WriteConfig("[File]\n1=a.pfx\n[Options]\nVerifyTrustFile=roots/company.pem\n");
  const std::string Before = ReadText(ConfigPath);
  QString Shown;
  OpenDialog([&Shown](TFrmOptions& Dialog) {
    Shown = Dialog.edtVerifyTrustFile->text();
    Dialog.accept();
  });
  EXPECT_EQ(Shown, "roots/company.pem");
  EXPECT_EQ(ReadText(ConfigPath), Before);
  // A relative name counts from the program's folder.
  EXPECT_EQ(QString::fromStdString(ConfiguredVerifyTrustFile(ConfigPath)),
            QDir(QCoreApplication::applicationDirPath()).filePath("roots/company.pem"));

  const std::string Picked = QDir(Folder.path()).filePath("test roots.pem").toStdString();
  SetOpenFileHandler([&Picked](const QString&) { return std::optional<QString>(QString::fromStdString(Picked)); });
  OpenDialog([](TFrmOptions& Dialog) {
    Dialog.btnVerifyTrustFile->click();
    Dialog.accept();
  });
  SetOpenFileHandler({});
  // The picked file joins the one named before.
  EXPECT_EQ(ConfiguredVerifyTrustFile(ConfigPath),
            QDir(QCoreApplication::applicationDirPath()).filePath("roots/company.pem").toStdString() + ";" + Picked);

  OpenDialog([](TFrmOptions& Dialog) {
    Dialog.edtVerifyTrustFile->clear();
    Dialog.accept();
  });
  EXPECT_TRUE(ConfiguredVerifyTrustFile(ConfigPath).empty());
  EXPECT_EQ(ReadText(ConfigPath).find("VerifyTrustFile"), std::string::npos) << ReadText(ConfigPath);
  EXPECT_NE(ReadText(ConfigPath).find("[File]\n1=a.pfx\n"), std::string::npos);
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(OptionsDialog, TheTrustBoxShowsItsHintWhole) {
  int HintWidth = 0;
  int TextWidth = 0;
  OpenDialog([&](TFrmOptions& Dialog) {
    QLineEdit* Box = Dialog.edtVerifyTrustFile;
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&Dialog));
    HintWidth = Box->fontMetrics().horizontalAdvance(Box->placeholderText());
    // The room for text: the box less its frame and the margins a line edit keeps inside it.
    TextWidth = Box->contentsRect().width() - 2 * Box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth) - 4;
    Dialog.reject();
  });
  EXPECT_GT(HintWidth, 0);
  EXPECT_LE(HintWidth, TextWidth);
}

TEST_F(OptionsDialog, TheTimestampProtocolIsShownAndOnlyAChangeIsWritten) {
  WriteConfig("[Options]\nTimestampProtocol=rfc3161\n");
  const std::string Before = ReadText(ConfigPath);
  std::optional<bool> Shown;
  const auto Pick = [&Shown](bool Rfc3161) {
    return [&Shown, Rfc3161](TFrmOptions& Dialog) {
      Shown = Dialog.Rfc3161Timestamps();
      Dialog.cbTimestampProtocol->setCurrentIndex(Dialog.cbTimestampProtocol->findData(Rfc3161));
      Dialog.accept();
    };
  };
  OpenDialog(Pick(true));
  EXPECT_EQ(Shown, true);
  EXPECT_EQ(ReadText(ConfigPath), Before);
  OpenDialog(Pick(false));
  EXPECT_FALSE(ReadRfc3161Timestamps(ConfigPath));
  EXPECT_NE(ReadText(ConfigPath).find("TimestampProtocol=Authenticode\n"), std::string::npos) << ReadText(ConfigPath);
  OpenDialog(Pick(true));
  EXPECT_EQ(Shown, false);
  EXPECT_TRUE(ReadRfc3161Timestamps(ConfigPath));
  EXPECT_TRUE(Prompts.Shown().empty());
}

TEST_F(OptionsDialog, AFileThatCannotBeWrittenGoesToTheErrorReport) {
  Frm.FConfigFile = QDir(Folder.path()).filePath("no such folder/config.ini").toStdString();
  // Triggered from the event loop, as a click in the menu would, so the error takes its usual way.
  QTimer::singleShot(0, Frm.pmiOptions, &QAction::trigger);
  QTimer::singleShot(0, [] {
    if (auto* Dialog = qobject_cast<TFrmOptions*>(QApplication::activeModalWidget())) {
      Dialog->edtSignParallelism->setValue(2);
      Dialog->accept();
    }
  });
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Prompts.Shown().empty(); }, 10000));
  ASSERT_EQ(Prompts.Texts(), std::vector<std::string>{"Unable to write to " + Frm.FConfigFile + "."});
}
}  // namespace

TEST_F(OptionsDialog, TheLanguageIsWrittenForTheNextStartAndCancelWritesNothing) {
  WriteConfig("[Options]\nSignParallelism=3\n");
  const std::string Before = ReadText(ConfigPath);
  const auto Pick = [](TLanguageSetting Language) {
    return [Language](TFrmOptions& Dialog) {
      Dialog.cbLanguage->setCurrentIndex(Dialog.cbLanguage->findData(static_cast<int>(Language)));
      Dialog.accept();
    };
  };
  std::optional<TLanguageSetting> Shown;
  OpenDialog([&](TFrmOptions& Dialog) {
    Shown = Dialog.Language();
    Dialog.cbLanguage->setCurrentIndex(Dialog.cbLanguage->findData(static_cast<int>(TLanguageSetting::English)));
    Dialog.reject();
  });
  EXPECT_EQ(Shown, TLanguageSetting::FromLocale);
  EXPECT_EQ(ReadText(ConfigPath), Before);

  OpenDialog(Pick(TLanguageSetting::English));
  EXPECT_EQ(ChooseLanguage(ConfigPath), TLanguage::English);
  EXPECT_EQ(ReadSignParallelism(ConfigPath), 3);
  OpenDialog([&](TFrmOptions& Dialog) {
    Shown = Dialog.Language();
    Pick(TLanguageSetting::Chinese)(Dialog);
  });
  EXPECT_EQ(Shown, TLanguageSetting::English);
  EXPECT_EQ(ChooseLanguage(ConfigPath), TLanguage::Chinese);
  OpenDialog(Pick(TLanguageSetting::FromLocale));
  EXPECT_EQ(ReadLanguageSetting(ConfigPath), TLanguageSetting::FromLocale);
  EXPECT_TRUE(Prompts.Shown().empty());
}
