#include "console/window/tests/PromptRecorder.h"

#include <algorithm>

CPromptRecorder::CPromptRecorder(bool otherAnswer) : m_otherAnswer(otherAnswer) {
    m_previous = SetPromptAnswerer([this](const CPrompt& prompt) {
        m_prompts.push_back(prompt);
        if (prompt.m_kind != EPromptKind::kQuestion) {
            return true;
        }
        if (m_answers.empty()) {
            return m_otherAnswer;
        }
        const bool answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    });
}

CPromptRecorder::~CPromptRecorder() {
    SetPromptAnswerer(std::move(m_previous));
}

std::vector<std::string> CPromptRecorder::Texts() const {
    std::vector<std::string> texts;
    for (const CPrompt& prompt : m_prompts) {
        texts.push_back(prompt.m_text);
    }
    return texts;
}

bool CPromptRecorder::Saw(const std::string& text) const {
    return std::any_of(m_prompts.begin(), m_prompts.end(),
                       [&text](const CPrompt& prompt) { return prompt.m_text == text; });
}
