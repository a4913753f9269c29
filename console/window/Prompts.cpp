#include "console/window/Prompts.h"

#include <QApplication>
#include <QMessageBox>

namespace {

PromptAnswerer& Answerer() {
    static PromptAnswerer answerer;
    return answerer;
}

const char* Title() {
    return "Velmorin Server Console";
}

bool Show(QWidget* parent, const CPrompt& prompt) {
    if (Answerer()) {
        return Answerer()(prompt);
    }
    const QString text = QString::fromStdString(prompt.m_text);
    switch (prompt.m_kind) {
        case EPromptKind::kQuestion:
            return QMessageBox::question(parent, Title(), text, QMessageBox::Yes | QMessageBox::No,
                                         prompt.m_defaultNo ? QMessageBox::No : QMessageBox::Yes) ==
                   QMessageBox::Yes;
        case EPromptKind::kWarning:
            QMessageBox::warning(parent, Title(), text);
            return true;
        case EPromptKind::kError:
            QMessageBox::critical(parent, Title(), text);
            return true;
        case EPromptKind::kInformation:
            break;
    }
    QMessageBox::information(parent, Title(), text);
    return true;
}

}  // namespace

void ShowMessage(QWidget* parent, const std::string& text, EPromptKind kind) {
    Show(parent, {kind, text});
}

bool AskYesNo(QWidget* parent, const std::string& question, bool defaultNo) {
    return Show(parent, {EPromptKind::kQuestion, question, defaultNo});
}

PromptAnswerer SetPromptAnswerer(PromptAnswerer answerer) {
    PromptAnswerer previous = std::move(Answerer());
    Answerer() = std::move(answerer);
    return previous;
}
