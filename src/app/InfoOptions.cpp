#include "app/InfoOptions.h"

#include <QCoreApplication>

#include <cstdio>
#include <string_view>

#include "app/Language.h"
#include "app/Translations.h"
#include "ui/ConfigFile.h"

std::optional<int> AnswerInfoOptions(int Argc, char** Argv) {
  bool Help = false;
  bool Version = false;
  for (int I = 1; I < Argc; ++I) {
    const std::string_view Argument = Argv[I];
    Help = Help || Argument == "--help" || Argument == "-h";
    Version = Version || Argument == "--version" || Argument == "-v";
  }
  if (!Help && !Version) return std::nullopt;

  // For the program's folder and the language of the texts.
  int CoreArgc = 1;
  const QCoreApplication Core(CoreArgc, Argv);
  const TTranslations Translations(ChooseLanguage(ConfigFilePath()));
  QString Text = QStringLiteral("Quillory %1\n").arg(QUILLORY_VERSION);
  if (Help)
    Text += QCoreApplication::translate("InfoOptions",
                                        "用法：quillory [选项]\n"
                                        "批量为 Windows 程序文件（.exe .dll .sys .cab）签名或删除签名。\n"
                                        "\n"
                                        "选项：\n"
                                        "  -h, --help     显示此帮助并退出\n"
                                        "  -v, --version  显示版本并退出\n");
  std::fputs(Text.toUtf8().constData(), stdout);
  return std::fflush(stdout) == 0 ? 0 : 1;
}
