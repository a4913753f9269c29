// Answers the window's message boxes and questions for one test and keeps their texts.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "console/window/Prompts.h"

class CPromptRecorder {
public:
    // Questions without a queued answer get `otherAnswer`.
    explicit CPromptRecorder(bool otherAnswer = false);
    ~CPromptRecorder();
    CPromptRecorder(const CPromptRecorder&) = delete;
    CPromptRecorder& operator=(const CPromptRecorder&) = delete;

    void QueueAnswer(bool yes) { m_answers.push_back(yes); }
    const std::vector<CPrompt>& Prompts() const { return m_prompts; }
    std::vector<std::string> Texts() const;
    bool Saw(const std::string& text) const;
    void Clear() { m_prompts.clear(); }

private:
    std::deque<bool> m_answers;
    bool m_otherAnswer;
    std::vector<CPrompt> m_prompts;
    PromptAnswerer m_previous;
};
