#include "support/PromptRecorder.h"

PromptRecorder::PromptRecorder() {
  SetMessageBoxHandler([this](const TMessageBoxRequest& Request) -> int {
    Records.push_back(Request);
    if (!Answers.empty()) {
      const int Answer = Answers.front();
      Answers.pop_front();
      return Answer;
    }
    return (Request.Style & 0x0F) == mbYesNo ? idNo : idOk;
  });
}

PromptRecorder::~PromptRecorder() { SetMessageBoxHandler({}); }

std::vector<std::string> PromptRecorder::Texts() const {
  std::vector<std::string> Result;
  for (const auto& Record : Records) Result.push_back(Record.Text);
  return Result;
}
