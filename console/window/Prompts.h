// Every message box and question of the console window goes through here, so tests can answer
// them. The real answerer is a QMessageBox over the given parent.
#pragma once

#include <functional>
#include <string>

class QWidget;

enum class EPromptKind { kInformation, kWarning, kError, kQuestion };

struct CPrompt {
    EPromptKind m_kind = EPromptKind::kInformation;
    std::string m_text;
    // A question whose default button is No.
    bool m_defaultNo = false;
};

// True for Yes (a question) or OK.
using PromptAnswerer = std::function<bool(const CPrompt& prompt)>;

// Shows a message; returns once the user closed it.
void ShowMessage(QWidget* parent, const std::string& text,
                 EPromptKind kind = EPromptKind::kInformation);
// A Yes/No question; true for Yes. Yes is the default button unless `defaultNo`.
bool AskYesNo(QWidget* parent, const std::string& question, bool defaultNo = false);

// Replaces the answerer for the whole process and returns the one it replaced; an empty
// function puts back the message boxes.
PromptAnswerer SetPromptAnswerer(PromptAnswerer answerer);
