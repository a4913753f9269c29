// The console's message texts, built once at start and shared by the window and the
// command line.
#pragma once

#include <initializer_list>
#include <string>

struct CConsoleMessages {
    std::string msgNoDataSource;
    std::string msgConnectPage;
    std::string msgConnectSecureLink;
    std::string msgWebServerStarted;
    std::string msgSecureServerStarted;
    std::string msgAskLaunchBrowser;
    std::string msgImporterAddress;
    std::string msgUnderscoreHost;
    std::string msgSecureHint;
    std::string msgStopBeforeCompact;
    std::string msgRestartToApply;
    std::string msgStartFailed;
    std::string msgStartTimedOut;
    std::string msgStopFailed;
    std::string msgGetRequestsFailed;
    std::string msgConnectFailed;
    std::string msgGetStatusFailed;
    std::string msgAskStop;
    std::string msgAddressChanged;
    std::string msgStopAndRestart;
    std::string msgAskInstallService;
    std::string msgAskStopAndInstallService;
    std::string msgInstallServiceFailed;
    std::string msgAskRemoveService;
    std::string msgAskStopAndRemoveService;
    std::string msgRemoveServiceFailed;
};

// The table; filled on first use.
const CConsoleMessages& ConsoleMessages();

// A table text with each "%s" replaced by the next argument (none left: empty) and "%%" by '%'.
std::string FormatMessage(const std::string& format, std::initializer_list<std::string> args);
