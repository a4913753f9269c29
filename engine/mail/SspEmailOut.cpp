#include "engine/mail/SspEmailOut.h"

#include <utility>

#include "engine/foundation/AsciiText.h"
#include "engine/foundation/Base64.h"
#include "engine/foundation/EngineMessages.h"
#include "engine/foundation/LogWriter.h"
#include "engine/mail/MailAddress.h"

namespace {

const char kNoReceiverLine[] = "Error: Intended receiver has no email address\r\n";

std::string Base64Of(const std::string& bytes) {
    std::string text;
    Base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), text);
    return text;
}

}  // namespace

void CSspEmailOut::Reset() {
    for (std::string* field :
         {&m_strTo, &m_strCc, &m_strBcc, &m_strFrom, &m_strSubject, &m_strContent,
          &m_strContentType, &m_strContentTransferEncoding, &m_strDoNotSendTo}) {
        field->clear();
    }
    m_headerLines.clear();
    m_attachmentNames.clear();
    m_attachmentData.clear();
    m_bNoReceiver = false;
}

void CSspEmailOut::AddHeader(const std::string& line) {
    // Split at CR LF, lone CR and lone LF alike; a line that does not continue
    // the header (no leading blank or TAB) would be a header of its own.
    std::string kept;
    size_t pos = 0;
    bool first = true;
    while (pos <= line.size()) {
        size_t end = line.find_first_of("\r\n", pos);
        if (end == std::string::npos) {
            end = line.size();
        }
        std::string piece = line.substr(pos, end - pos);
        if (!piece.empty() && (first || piece[0] == ' ' || piece[0] == '\t')) {
            if (!kept.empty()) {
                kept += "\r\n";
            }
            kept += piece;
        }
        if (!piece.empty()) {
            first = false;
        }
        if (end == line.size()) {
            break;
        }
        pos = end + ((line[end] == '\r' && end + 1 < line.size() && line[end + 1] == '\n') ? 2 : 1);
    }
    if (!kept.empty()) {
        m_headerLines.push_back(std::move(kept));
    }
}

void CSspEmailOut::Attach(const std::string& name, std::string bytes) {
    m_attachmentNames.push_back(name);
    m_attachmentData.push_back(std::move(bytes));
}

std::string CSspEmailOut::ComposeBodyPart(const CMailSettings& settings) const {
    std::string part = "Content-Type: " + OneHeaderLine(m_strContentType);
    if (!settings.m_strTextEncoding.empty()) {
        part += "; charset=\"" + OneHeaderLine(settings.m_strTextEncoding) + "\"";
    }
    part += "\r\n";
    part += "Content-Transfer-Encoding: " +
            (m_strContentTransferEncoding.empty() ? std::string("8bit")
                                                  : OneHeaderLine(m_strContentTransferEncoding)) +
            "\r\n";
    part += "\r\n";
    if (m_bNoReceiver) {
        part += kNoReceiverLine;
    }
    part += AsciiEqualNoCase(m_strContentTransferEncoding, "base64") ? Base64Of(m_strContent)
                                                                     : m_strContent;
    return part;
}

void CSspEmailOut::ApplyAddressDefaults(const CMailSettings& settings) {
    if (m_strFrom.empty()) {
        m_strFrom = settings.m_strAdminEmail;
    }
    if (m_strTo.empty()) {
        m_strTo = m_strFrom;
        m_bNoReceiver = true;
    }
}

std::string CSspEmailOut::ComposeOutboxText(const CMailSettings& settings) {
    ApplyAddressDefaults(settings);
    std::string text;
    text += "From: " + OneHeaderLine(m_strFrom) + "\r\n";
    text += "To: " + OneHeaderLine(m_strTo) + "\r\n";
    text += "Cc: " + OneHeaderLine(m_strCc) + "\r\n";
    text += "Bcc: " + OneHeaderLine(m_strBcc) + "\r\n";
    text += "Subject: " + OneHeaderLine(m_strSubject) + "\r\n";
    for (const std::string& line : m_headerLines) {
        text += line + "\r\n";
    }
    if (m_strContentType.empty() &&
        (!m_strContentTransferEncoding.empty() || !m_attachmentNames.empty())) {
        m_strContentType = "text/plain";
    }
    if (m_attachmentNames.empty()) {
        if (!AsciiEqualNoCase(m_strContentType, "text/html") &&
            !AsciiEqualNoCase(m_strContentType, "text/plain")) {
            text += "\r\n";
            if (m_bNoReceiver) {
                text += kNoReceiverLine;
            }
            text += m_strContent;
        } else {
            text += "MIME-Version: 1.0\r\n";
            text += ComposeBodyPart(settings);
        }
        return text;
    }
    const std::string boundary = kBoundary;
    text += "MIME-Version: 1.0\r\n";
    text += "Content-Type: multipart/mixed;\r\n\tboundary=\"" + boundary + "\"\r\n";
    text += "\r\nThis is a multi-part message in MIME format.\r\n";
    text += "\r\n--" + boundary + "\r\n";
    text += ComposeBodyPart(settings);
    for (size_t i = 0; i < m_attachmentNames.size(); ++i) {
        const std::string name = OneHeaderLine(m_attachmentNames[i]);
        text += "\r\n--" + boundary + "\r\n";
        text += "Content-Type: " + OneHeaderLine(settings.ContentTypeFor(name)) + ";\r\n\tname=\"" +
                name + "\"\r\n";
        text += "Content-Transfer-Encoding: base64\r\n";
        text += "Content-Disposition: attachment;\r\n\tfilename=\"" + name + "\"\r\n";
        text += "\r\n";
        text += Base64Of(m_attachmentData[i]);
    }
    text += "\r\n--" + boundary + "--\r\n";
    return text;
}

std::string CSspEmailOut::AddressError() const {
    const struct {
        const char* m_field;
        const std::string* m_text;
    } fields[] = {{"From", &m_strFrom}, {"To", &m_strTo}, {"Cc", &m_strCc}, {"Bcc", &m_strBcc}};
    for (const auto& field : fields) {
        const CMailAddressList list = ParseMailAddresses(*field.m_text);
        if (!list.m_bad.empty()) {
            return std::string(g_msg.m_notAnEmailAddress) + field.m_field + ": " +
                   list.m_bad.front();
        }
    }
    return {};
}

bool CSspEmailOut::GoesToDoNotSendTo() const {
    // The one address may be written with a display name too.
    const CMailAddressList banned = ParseMailAddresses(m_strDoNotSendTo);
    const std::string address = banned.m_addresses.size() == 1 && banned.m_bad.empty()
                                    ? banned.m_addresses.front().m_strAddress
                                    : m_strDoNotSendTo;
    for (const CMailAddress& recipient :
         ParseMailAddresses(m_strTo + ", " + m_strCc + ", " + m_strBcc).m_addresses) {
        if (AsciiEqualNoCase(recipient.m_strAddress, address)) {
            return true;
        }
    }
    return false;
}

int CSspEmailOut::Send(const CMailSettings& settings, const std::string& root, CLogWriter& log,
                       const MailClock& clock, std::string* addressError) {
    ApplyAddressDefaults(settings);
    if (std::string error = AddressError(); !error.empty()) {
        // Queued, it could never be delivered and would be tried at every run.
        if (addressError != nullptr) {
            *addressError = std::move(error);
        } else {
            log.LogText(error + "\r\n");
        }
        return 0;
    }
    if (!m_strDoNotSendTo.empty() && GoesToDoNotSendTo()) {
        log.LogText("The following email can not be sent back to " + m_strDoNotSendTo +
                    " because you've set it in DoNotSendTo: " + m_strSubject);
        return 0;
    }
    CNewMailFile file;
    if (!file.Open(root, "outbox", "txt", log, clock)) {
        log.Log("Failed to create email file.");
        return 0;
    }
    file.Write(ComposeOutboxText(settings));
    if (!file.Commit(log)) {
        log.Log("Failed to create email file.");
        return 0;
    }
    return 1;
}

int CSspEmailOut::QueueToAdministrator(const CMailSettings& settings, const std::string& root,
                                       const std::string& subject, const std::string& content,
                                       CLogWriter& log, const MailClock& clock) {
    if (settings.m_strAdminEmail.empty()) {
        return 0;
    }
    CSspEmailOut mail;
    mail.m_strTo = settings.m_strAdminEmail;
    mail.m_strFrom = settings.m_strAdminEmail;
    mail.m_strSubject = subject;
    mail.m_strContent = content;
    return mail.Send(settings, root, log, clock);
}
