#include "engine/mail/MailEngineSetup.h"

#include <memory>
#include <string>

#include "engine/mail/MailAdminMailer.h"
#include "engine/mail/SspEmailIn.h"
#include "engine/mail/SspEmailOut.h"
#include "engine/script/SspObjectRegistry.h"
#include "engine/web/ServerContext.h"

namespace {

// The declaration itself passes the three account arguments through SetVar.
std::unique_ptr<CSspObject> MakeEmailIn(const std::string& name) {
    return std::make_unique<CSspEmailIn>(name);
}

}  // namespace

void InstallMailEngine() {
    // The context keeps only a pointer; the programs end their page runs before exit.
    static CMailAdminMailer mailer;
    RegisterEmailOutDeclaration();
    CSspObjectRegistry::Instance().RegisterDeclaration("email_in", &MakeEmailIn);
    g_serverContext.SetAdminMailer(&mailer);
}
