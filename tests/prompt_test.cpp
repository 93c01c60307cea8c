#include <gtest/gtest.h>

#include <QPushButton>
#include <QTest>
#include <stdexcept>

#include "ui/ErrorReport.h"
#include "common/uPubFunc.h"
#include "support/PromptRecorder.h"

namespace {
struct TKindCase {
  TPromptKind Kind;
  const char* Title;
  unsigned Style;
};
}  // namespace

TEST(ShowPrompt, EachKindHasItsTitleIconAndButtons) {
  const TKindCase Cases[] = {{pkInfo, "提示", 0x40}, {pkQuestion, "询问", 0x24},
                             {pkWarning, "警告", 0x30}, {pkError, "错误", 0x10}};
  for (const auto& Case : Cases) {
    PromptRecorder Prompts;
    ShowPrompt("第一行\n第二行", "", Case.Kind);
    ASSERT_EQ(Prompts.Shown().size(), 1u);
    EXPECT_EQ(Prompts.Last().Title, Case.Title);
    EXPECT_EQ(Prompts.Last().Style, Case.Style);
    EXPECT_EQ(Prompts.Last().Text, "第一行\n第二行");
  }
}

TEST(ShowPrompt, CaptionReplacesTitleButNotIconOrButtons) {
  PromptRecorder Prompts;
  ShowPrompt("text", "My caption", pkQuestion);
  EXPECT_EQ(Prompts.Last().Title, "My caption");
  EXPECT_EQ(Prompts.Last().Style, 0x24u);
}

TEST(ShowPrompt, ReturnsThePressedButton) {
  PromptRecorder Prompts;
  Prompts.QueueAnswer(idYes);
  Prompts.QueueAnswer(idNo);
  EXPECT_EQ(ShowPrompt("?", "", pkQuestion), 6);
  EXPECT_EQ(ShowPrompt("?", "", pkQuestion), 7);
  EXPECT_EQ(ShowPrompt("!", "", pkInfo), 1);
}

TEST(ShowPrompt, FromAnotherThreadIsShownOnTheGuiThread) {
  PromptRecorder Prompts;
  Prompts.QueueAnswer(idYes);
  int Result = 0;
  QThread* Worker = QThread::create([&Result] { Result = ShowPrompt("from worker", "", pkQuestion); });
  Worker->start();
  QTRY_VERIFY_WITH_TIMEOUT(Worker->isFinished(), 10000);
  delete Worker;
  EXPECT_EQ(Result, 6);
  EXPECT_EQ(Prompts.Last().Text, "from worker");
}

TEST(ErrorReport, TitleIsTheProgramNameCutAtTheFirstDot) {
  EXPECT_EQ(ProgramTitle("/opt/quillory/quillory"), "quillory");
  EXPECT_EQ(ProgramTitle("/opt/x/QUILLORY.bin.old"), "Quillory");
  EXPECT_EQ(ProgramTitle("SignTool.exe"), "Signtool");
  EXPECT_EQ(ProgramTitle(""), "");
}

TEST(ErrorReport, TextGetsAFullStopUnlessItEndsInOneOrBelow) {
  EXPECT_EQ(ErrorReportText("Unable to write to /x/config.ini"), "Unable to write to /x/config.ini.");
  EXPECT_EQ(ErrorReportText("Done."), "Done.");
  EXPECT_EQ(ErrorReportText("Really?"), "Really?.");
  EXPECT_EQ(ErrorReportText("Stop!"), "Stop!");    // '!' sorts before '.'
  EXPECT_EQ(ErrorReportText("Cut -"), "Cut -");    // so does '-'
  EXPECT_EQ(ErrorReportText("line\n"), "line\n");
  EXPECT_EQ(ErrorReportText("修改签名失败"), "修改签名失败.");
  EXPECT_EQ(ErrorReportText(""), "");
}

TEST(ErrorReport, ExceptionLeavingAnEventHandlerIsReportedOnce) {
  PromptRecorder Prompts;
  QPushButton Button("throw");
  QObject::connect(&Button, &QPushButton::clicked, [] { throw std::runtime_error("Cannot create file \"/x\". Denied"); });
  Button.show();
  QTest::mouseClick(&Button, Qt::LeftButton);
  ASSERT_EQ(Prompts.Shown().size(), 1u);
  EXPECT_EQ(Prompts.Last().Style, 0x10u);
  EXPECT_EQ(Prompts.Last().Text, "Cannot create file \"/x\". Denied.");
  EXPECT_EQ(Prompts.Last().Title, "quillory_tests");
}
