#include "console/window/WindowDbSetupUi.h"

#include "console/window/Prompts.h"

void CWindowDbSetupUi::ShowMessage(const std::string& text) {
    ::ShowMessage(m_parent, text);
}

bool CWindowDbSetupUi::Ask(const std::string& question) {
    return AskYesNo(m_parent, question);
}

bool CWindowDbSetupUi::ChooseDataSource(std::string&, const std::string&, const std::string&) {
    return false;
}

bool CWindowDbSetupUi::CreateTables(const std::string&, const std::string&, COdbcConnection&) {
    return false;
}
