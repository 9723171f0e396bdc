#pragma once
// A prompt for tests: answers from a script instead of a user, and keeps every
// question. TestMachine installs one (tests/support/TestMachine.h).
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Prompt.h"

namespace obxtest {

class ScriptedPrompt : public platform::Prompt {
 public:
  struct Question {
    std::string text;
    std::string caption;
    unsigned type;
  };

  // The next answers, in order; when they run out the user chooses OK.
  void Script(std::vector<platform::PromptAnswer> answers) {
    std::lock_guard<std::mutex> lock(mutex_);
    answers_.assign(answers.begin(), answers.end());
  }
  std::vector<Question> Questions() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return questions_;
  }

  platform::PromptAnswer Ask(const std::string& text, const std::string& caption,
                             unsigned type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    questions_.push_back({text, caption, type});
    if (answers_.empty()) return {platform::kIdOk, platform::PromptAnswer::kUserAnswered};
    platform::PromptAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
  }

 private:
  mutable std::mutex mutex_;
  std::deque<platform::PromptAnswer> answers_;
  std::vector<Question> questions_;
};

}  // namespace obxtest
