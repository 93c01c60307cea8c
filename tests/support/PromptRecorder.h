#pragma once
// Answers every message box while it lives and records what was shown.
#include <deque>
#include <string>
#include <vector>

#include "ui/MessageBox.h"

class PromptRecorder {
 public:
  PromptRecorder();
  ~PromptRecorder();
  PromptRecorder(const PromptRecorder&) = delete;
  PromptRecorder& operator=(const PromptRecorder&) = delete;

  // Answers to give, in order; when none are queued OK boxes get idOk and Yes/No boxes idNo.
  void QueueAnswer(int Answer) { Answers.push_back(Answer); }

  const std::vector<TMessageBoxRequest>& Shown() const { return Records; }
  const TMessageBoxRequest& Last() const { return Records.back(); }
  std::vector<std::string> Texts() const;

 private:
  std::deque<int> Answers;
  std::vector<TMessageBoxRequest> Records;
};
