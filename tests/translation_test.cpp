// The window in Chinese and in English: which language a start picks, that nothing is left
// untranslated or cut, and that the Chinese window is what it always was.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <fstream>
#include <algorithm>
#include <map>
#include <set>

#include "app/Language.h"
#include "app/Translations.h"
#include "common/uPubFunc.h"
#include "filelist/FileListDisplay.h"
#include "filelist/TFileListModel.h"
#include "ui/TFileListView.h"
#include "support/PeFixtures.h"
#include "support/QtPrinters.h"
#include "support/WindowTexts.h"
#include "ui/uFrmMain.h"

namespace {
const TLanguage BothLanguages[] = {TLanguage::Chinese, TLanguage::English};

const char* NameOf(TLanguage Language) { return Language == TLanguage::Chinese ? "Chinese" : "English"; }

QStringList StartTexts(TFrmMain& Form) {
  QStringList Lines = WindowTexts(Form);
  Lines << "Prompt\t" + EmptyStartPrompt(Form) << "QtOk\t" + QtOkButtonText();
  return Lines;
}

// What the window shows when this process runs in Language.
QStringList TextsIn(TLanguage Language) {
  const TTranslations Translations(Language);
  TFrmMain Form;
  return StartTexts(Form);
}

QString TextPart(const QString& Line) { return Line.section('\t', 1); }

std::string WriteConfig(const QTemporaryDir& Dir, const std::string& Content) {
  const std::string Path = Dir.filePath("config.ini").toStdString();
  std::ofstream(Path) << Content;
  return Path;
}

// Starts the window in a separate program under the given LANG, with config.ini holding
// Content, and returns what it shows.
QStringList ProbeTexts(const QString& Lang, const std::string& ConfigContent) {
  const QTemporaryDir Dir;
  const std::string Config = WriteConfig(Dir, ConfigContent);
  QProcessEnvironment Environment = QProcessEnvironment::systemEnvironment();
  for (const char* Name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) Environment.remove(Name);
  Environment.insert("LANG", Lang);
  Environment.insert("QT_QPA_PLATFORM", "offscreen");
  QProcess Probe;
  Probe.setProcessEnvironment(Environment);
  Probe.start(QCoreApplication::applicationDirPath() + "/language_probe", {QString::fromStdString(Config)});
  EXPECT_TRUE(Probe.waitForFinished(60000)) << Lang.toStdString();
  EXPECT_EQ(Probe.exitCode(), 0) << Probe.readAllStandardError().toStdString();
  QStringList Lines = QString::fromUtf8(Probe.readAllStandardOutput()).split('\n');
  Lines.removeAll(QString());
  return Lines;
}
}  // namespace

TEST(Language, OnlyChineseLocalesAndTheCLocaleGiveChinese) {
  const std::map<QStringList, TLanguage> Cases = {
      {{"C"}, TLanguage::Chinese},
      {{"POSIX"}, TLanguage::Chinese},
      {{}, TLanguage::Chinese},
      {{"zh-CN", "zh-Hans-CN", "zh"}, TLanguage::Chinese},
      {{"zh-TW", "zh-Hant-TW"}, TLanguage::Chinese},
      {{"zh_HK"}, TLanguage::Chinese},
      {{"en-US", "en"}, TLanguage::English},
      {{"de-DE", "zh-CN"}, TLanguage::English},  // only the first choice counts
      {{"zu-ZA"}, TLanguage::English},
      {{"tlh"}, TLanguage::English},  // a language Qt does not know is still not C
  };
  for (const auto& [UiLanguages, Expected] : Cases)
    EXPECT_EQ(LanguageOfUiLanguages(UiLanguages), Expected) << UiLanguages.join(',').toStdString();
}

TEST(Language, OptionsSettingOverridesTheLocaleAndOnlyAKnownValueCounts) {
  const TLanguage FromLocale = LanguageOfUiLanguages(QLocale::system().uiLanguages());
  const QTemporaryDir Dir;
  const std::map<std::string, TLanguage> Cases = {
      {"[Options]\nLanguage=en\n", TLanguage::English},
      {"[Options]\nLanguage=zh_CN\n", TLanguage::Chinese},
      {"[options]\r\nlanguage = en \r\n", TLanguage::English},  // the profile rules: any case, trimmed
      {"[Options]\nLanguage=fr\n", FromLocale},
      {"[Options]\nLanguage=\n", FromLocale},
      {"[File]\nLanguage=en\n", FromLocale},
      {"", FromLocale},
  };
  for (const auto& [Content, Expected] : Cases)
    EXPECT_EQ(ChooseLanguage(WriteConfig(Dir, Content)), Expected) << Content;
  EXPECT_EQ(ChooseLanguage(Dir.filePath("missing/config.ini").toStdString()), FromLocale);
}

TEST(TranslatedWindow, StartsInTheLanguageOfTheLocaleUnlessTheSettingSaysOtherwise) {
  const std::map<TLanguage, QStringList> Expected = {{TLanguage::Chinese, TextsIn(TLanguage::Chinese)},
                                                     {TLanguage::English, TextsIn(TLanguage::English)}};
  struct TCase {
    const char* Lang;
    const char* Config;
    TLanguage Language;
  };
  const TCase Cases[] = {
      {"en_US.UTF-8", "", TLanguage::English},
      {"de_DE.UTF-8", "", TLanguage::English},
      {"zh_CN.UTF-8", "", TLanguage::Chinese},
      {"C", "", TLanguage::Chinese},
      {"zh_CN.UTF-8", "[Options]\nLanguage=en\n", TLanguage::English},
      {"en_US.UTF-8", "[Options]\nLanguage=zh_CN\n", TLanguage::Chinese},
  };
  for (const TCase& Case : Cases)
    EXPECT_EQ(ProbeTexts(Case.Lang, Case.Config), Expected.at(Case.Language)) << Case.Lang << " " << Case.Config;
}

TEST(TranslatedWindow, ChineseIsTheSourceAndEnglishLeavesNoChineseBehind) {
  QStringList Untranslated;
  {
    TFrmMain Form;
    Untranslated = WindowTexts(Form);
  }
  const QStringList Chinese = TextsIn(TLanguage::Chinese);
  const QStringList English = TextsIn(TLanguage::English);
  ASSERT_EQ(Chinese.size(), English.size());
  // Our own texts are the sources themselves; only Qt's own buttons change language.
  for (const QString& Line : Untranslated) EXPECT_TRUE(Chinese.contains(Line)) << Line.toStdString();
  for (int I = 0; I < Chinese.size(); ++I) {
    EXPECT_TRUE(HasChineseCharacter(TextPart(Chinese[I]))) << Chinese[I].toStdString();
    EXPECT_FALSE(HasChineseCharacter(TextPart(English[I]))) << English[I].toStdString();
    EXPECT_FALSE(TextPart(English[I]).trimmed().isEmpty()) << English[I].toStdString();
  }
}

TEST(TranslatedWindow, ButtonMnemonicsAreTheSameAndMenuMnemonicsUnique) {
  std::map<QString, QKeySequence> ChineseKeys;
  for (TLanguage Language : BothLanguages) {
    const TTranslations Translations(Language);
    TFrmMain Form;
    for (const QAbstractButton* Button : Form.findChildren<QAbstractButton*>()) {
      const QKeySequence Key = QKeySequence::mnemonic(Button->text());
      if (Language == TLanguage::Chinese)
        ChineseKeys[Button->objectName()] = Key;
      else
        EXPECT_EQ(Key, ChineseKeys[Button->objectName()]) << Button->text().toStdString();
    }
    std::set<int> MenuKeys;
    for (const QAction* Action : Form.PopupMenu->actions()) {
      if (Action->isSeparator()) continue;
      const QKeySequence Key = QKeySequence::mnemonic(Action->text());
      EXPECT_FALSE(Key.isEmpty()) << Action->text().toStdString();
      EXPECT_TRUE(MenuKeys.insert(Key[0].toCombined()).second) << Action->text().toStdString();
    }
  }
  EXPECT_EQ(std::count_if(ChineseKeys.begin(), ChineseKeys.end(), [](const auto& Entry) { return !Entry.second.isEmpty(); }), 4);
}

TEST(TranslatedWindow, EveryCaptionFitsItsPlaceAtTheDesignSize) {
  for (TLanguage Language : BothLanguages) {
    SCOPED_TRACE(NameOf(Language));
    const TTranslations Translations(Language);
    TFrmMain Form;
    Form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form));
    for (const QAbstractButton* Button : Form.findChildren<QAbstractButton*>()) {
      if (Button->text().isEmpty()) continue;
      EXPECT_LE(Button->sizeHint().width(), Button->width()) << Button->text().toStdString();
      EXPECT_LE(Button->sizeHint().height(), Button->height()) << Button->text().toStdString();
    }
    for (const QGroupBox* Box : Form.findChildren<QGroupBox*>())
      EXPECT_LE(Box->minimumSizeHint().width(), Box->width()) << Box->title().toStdString();
    for (const QLabel* Label : Form.findChildren<QLabel*>()) {
      const QWidget* Parent = Label->parentWidget();
      EXPECT_LE(Label->sizeHint().width(), Label->width()) << Label->text().toStdString();
      EXPECT_TRUE(Parent->contentsRect().contains(Label->geometry())) << Label->text().toStdString();
      // The drawn text, not the label's whole rectangle: a Chinese colon leaves blank space
      // on its right that the design lets reach under the box.
      const QRect Ink = Label->fontMetrics().tightBoundingRect(Label->text());
      const QRect InkInParent(Label->x() + Ink.left(), Label->y(), Ink.width(), Label->height());
      for (const QWidget* Sibling : Parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (Sibling == Label || !Sibling->isVisible()) continue;
        EXPECT_FALSE(Sibling->geometry().intersects(InkInParent))
            << Label->text().toStdString() << " overlaps " << Sibling->objectName().toStdString();
      }
    }
    const QHeaderView* Header = Form.vstFiles->header();
    for (int Section = 0; Section < Header->count(); ++Section)
      EXPECT_LE(Header->sectionSizeHint(Section), Header->sectionSize(Section)) << Section;
  }
}

TEST(TranslatedWindow, TheListShowsTheStrippersMessagesInTheUsersLanguage) {
  const QTemporaryDir Dir;
  const std::string Unsigned = Dir.filePath("unsigned.exe").toStdString();
  const std::string Text = Dir.filePath("notes.exe").toStdString();
  const std::string Empty = Dir.filePath("empty.exe").toStdString();
  WriteBytes(Unsigned, BuildPe({}));
  std::ofstream(Text) << "not a program";
  std::ofstream{Empty};
  TFileListModel Model;
  for (const std::string& Path : {Unsigned, Text, Empty, Dir.filePath("missing.exe").toStdString()}) {
    std::string Message;
    ASSERT_FALSE(StripSignature(Path, Message)) << Path;
    Model.SetResult(Model.Append(Path), fsFailed, Message);
  }
  const std::string ToolMessage = "SignTool Error: 无法打开 \"a.exe\"";
  Model.SetResult(Model.Append("a.exe"), fsFailed, ToolMessage);
  const int ToolRow = Model.Count() - 1;

  const auto Shown = [&Model](int Row) { return Model.index(Row, fcInfo).data().toString(); };
  std::vector<QString> Chinese;
  for (int Row = 0; Row < ToolRow; ++Row) Chinese.push_back(Shown(Row));
  const TTranslations English(TLanguage::English);
  for (int Row = 0; Row < ToolRow; ++Row) {
    EXPECT_FALSE(HasChineseCharacter(Shown(Row))) << Shown(Row).toStdString();
    EXPECT_NE(Shown(Row), Chinese[static_cast<std::size_t>(Row)]);
  }
  EXPECT_EQ(Shown(ToolRow).toStdString(), ToolMessage);
}

namespace {
// The name of the call whose parentheses hold the text at Position, or empty.
QString EnclosingCall(const QString& Code, qsizetype Position) {
  int Depth = 0;
  for (qsizetype I = Position - 1; I >= 0; --I) {
    const QChar Character = Code[I];
    if (Character == '"') {  // skip an earlier string literal whole
      while (--I > 0 && !(Code[I] == '"' && Code[I - 1] != '\\')) {}
      continue;
    }
    if (Character == ')') ++Depth;
    if (Character == '(' && Depth-- == 0) {
      qsizetype End = I;
      while (End > 0 && Code[End - 1].isSpace()) --End;
      qsizetype Start = End;
      while (Start > 0 && (Code[Start - 1].isLetterOrNumber() || Code[Start - 1] == '_')) --Start;
      return Code.mid(Start, End - Start);
    }
    if (Character == ';' || Character == '}') return {};
  }
  return {};
}
}  // namespace

TEST(Translations, EveryChineseTextInTheSourcesGoesThroughTranslation) {
  // Font family names are names, not texts.
  const QStringList Marks = {"tr", "translate", "QT_TRANSLATE_NOOP", "DISPLAYED_TEXT", "setFamilies"};
  const QRegularExpression Literal(R"("(?:[^"\\\n]|\\.)*\p{Han}(?:[^"\\\n]|\\.)*")");
  int Files = 0;
  for (const char* Folder : {"src", "platform/update"}) {
    QDirIterator It(QString(QUILLORY_SOURCE_DIR "/") + Folder, {"*.cpp", "*.h"}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (It.hasNext()) {
      QFile File(It.next());
      // signtool.exe's catalogue holds each of its texts in both languages itself.
      if (File.fileName().endsWith("/common/MessageCatalogue.cpp")) continue;
      ASSERT_TRUE(File.open(QIODevice::ReadOnly)) << File.fileName().toStdString();
      const QString Code = QString::fromUtf8(File.readAll());
      ++Files;
      for (const QRegularExpressionMatch& Match : Literal.globalMatch(Code)) {
        const qsizetype LineStart = Code.lastIndexOf('\n', Match.capturedStart()) + 1;
        if (Code.mid(LineStart, Match.capturedStart() - LineStart).contains("//")) continue;
        EXPECT_TRUE(Marks.contains(EnclosingCall(Code, Match.capturedStart())))
            << File.fileName().toStdString() << ": " << Match.captured().toStdString();
      }
    }
  }
  EXPECT_GT(Files, 0);
}
