#include "console/ConsoleMessages.h"

namespace {

CConsoleMessages BuildMessages() {
    CConsoleMessages m;
    m.msgNoDataSource =
        "You have not set up the data source needed by this program.\r\nPlease run this program "
        "again to set it up.";
    m.msgConnectPage =
        "<html>\n<head><title>Velmorin Server : Connect</title></head>\n<body>\n"
        "<table width=\"80%%\" align=\"center\"><tr><td>\n"
        "    <h2>Velmorin Server : Connect</h2>\n    <hr>\n"
        "    <p>Please click one of the following links to access the website hosted by "
        "Velmorin Server.\n"
        "    If you cannot connect, see http://www.tormalek.com/support for help.\n"
        "    A firewall on the server computer may block the connection.\n"
        "    <p><a href=\"%s\">%s</a> or <a href=\"%s\">%s</a>\r\n"
        "%s"
        "    <p>Old web browsers running on this same computer may be slow.\n"
        "</td></tr></table>\n</body>\n</html>\n";
    m.msgConnectSecureLink =
        "    <p>To access the secure website, go to \r\n    <p><a href=\"%s\">%s</a>\r\n";
    m.msgWebServerStarted =
        "The web server has been started. Users can now point their\nweb browsers to %s or "
        "%s\nfrom their computers.\n\n";
    m.msgSecureServerStarted =
        "The secure web server has been also started. Users can point their\nweb browsers to %s "
        "from their computers.\n\n";
    m.msgAskLaunchBrowser =
        "Would you like this program to try launching your default web\nbrowser to connect to "
        "the Velmorin Server running on\nthis computer? (If it fails to do so, you can launch a "
        "browser\nyourself and go to the first URL above.)";
    m.msgImporterAddress =
        "You must assign a dedicated email address to Email Importer\nbecause it will swallow "
        "all emails sent to it and automatically\nsend out responses. Sharing Email Importer's "
        "email address\nwith administrators or dispatchers will cause loss of emails or\nsame "
        "emails getting imported over and over again.";
    m.msgUnderscoreHost =
        "Some Internet Explorer security patches filter out session cookies\nfor HTTP addresses "
        "with underscores. The name of this computer,\n%s, has an underscore. \n\nThis will "
        "result in session ID missing error for some Internet\nExplorer users when they access "
        "Velmorin Server.\n\nTo avoid the problem, you should rename this computer to\nsomething "
        "else that does not have any underscores in it.";
    m.msgSecureHint =
        "This computer must be running Windows 2000 or newer for the secure web server to work. "
        "To enable the secure web server, please select a certificate. \r\n\r\nIf you don't have "
        "a certificate, you can generate a request and send it to a Certificate Authority. Upon "
        "approval, they will send you a certificate. Save it into a .cer file. Come back to this "
        "dialog to install it and then select it. ";
    m.msgStopBeforeCompact =
        "You need to shutdown Velmorin Server \nbefore you can compact the MS Access database "
        "file.";
    m.msgRestartToApply = "Changes won't take effect until Velmorin Server is restarted.";
    m.msgStartFailed = "Failed to start Velmorin Server %s%s.\n%s";
    m.msgStartTimedOut = "Velmorin Server %sfailed to start.\nPlease check log file for errors.";
    m.msgStopFailed = "Failed to stop Velmorin Server%s.\nPlease check log file for errors. %s\n";
    m.msgGetRequestsFailed = "Failed to get requests from Velmorin Server.";
    m.msgConnectFailed = "Failed to connect to Velmorin Server.";
    m.msgGetStatusFailed = "Failed to get status from Velmorin Server";
    m.msgAskStop = "Are you sure you want to stop Velmorin Server %s?";
    m.msgAddressChanged =
        "You have changed the IP address or the port number. \nThis program will need to shut "
        "down Velmorin Server \ncurrently running in order to save the new settings. \nAre you "
        "sure you want to do that?";
    m.msgStopAndRestart =
        "You must stop and restart Velmorin Server\nbefore your changes will take effect.";
    m.msgAskInstallService = "Would you like to install Velmorin Server NT Service?";
    m.msgAskStopAndInstallService =
        "Would you like to stop Velmorin Server \nand install Velmorin Server NT Service?";
    m.msgInstallServiceFailed = "Failed to install Velmorin Server service.\n";
    m.msgAskRemoveService =
        "Setting the Velmorin Server to run as a normal program \nwill remove the Velmorin "
        "Server NT Service. \n\nWould you like to remove Velmorin Server NT Service?";
    m.msgAskStopAndRemoveService =
        "Setting the Velmorin Server to run as a normal program \nwill remove the Velmorin "
        "Server NT Service. \n\nWould you like to stop and remove Velmorin Server NT Service?";
    m.msgRemoveServiceFailed = "Failed to remove Velmorin Server NT Service.\n";
    return m;
}

}  // namespace

const CConsoleMessages& ConsoleMessages() {
    static const CConsoleMessages messages = BuildMessages();
    return messages;
}

std::string FormatMessage(const std::string& format, std::initializer_list<std::string> args) {
    auto next = args.begin();
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                if (next != args.end()) {
                    out += *next++;
                }
                ++i;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}
