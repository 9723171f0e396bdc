// Which prompt the questions go to; the system's own lives beside the other
// system services (posix/Prompt.cpp).
#include "platform/Prompt.h"

#include <atomic>

namespace platform {

namespace {

std::atomic<Prompt*> g_testPrompt{nullptr};

}  // namespace

Prompt& CurrentPrompt() {
  Prompt* prompt = g_testPrompt.load(std::memory_order_acquire);
  return prompt != nullptr ? *prompt : SystemPrompt();
}

void SetPromptForTest(Prompt* prompt) { g_testPrompt.store(prompt, std::memory_order_release); }

}  // namespace platform
