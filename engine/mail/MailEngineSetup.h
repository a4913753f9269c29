// Plugs the mail library into the page engine and the server context.
#pragma once

// Makes `email_out` and `email_in` declarations create their mail objects and gives
// g_serverContext the mailer of Server.SendMail (over g_settings, g_rootDir and g_log).
// Call at start-up, before any script runs; calling it again changes nothing. The
// scheduler's mail hooks are installed separately (CMailSchedulerHooks).
void InstallMailEngine();
