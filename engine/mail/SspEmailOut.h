// One outgoing mail message (`email_out`). Send() composes the whole message,
// MIME structure included, and queues it as a new ".txt" file in mail/outbox;
// the Email Sender reads the file back and hands it to the SMTP server.
//
// Outbox file: the lines "From: ", "To: ", "Cc: ", "Bcc: " and "Subject: " (always,
// in that order, also when empty), the AddHeader lines, the MIME lines when the
// message has a text type, an encoding or attachments, an empty line, then the
// body as it goes on the wire. Every line ends with CR LF.
#pragma once

#include <string>
#include <vector>

#include "engine/mail/MailSettings.h"
#include "engine/mail/MailSpool.h"
#include "engine/script/SspObject.h"

class CLogWriter;

// Makes the page engine create a CSspEmailOut for every `email_out` declaration.
// Call once at start-up, before any script runs.
void RegisterEmailOutDeclaration();

class CSspEmailOut : public CSspObject {
public:
    // The boundary between the parts of a message with attachments.
    static constexpr const char* kBoundary = "----=_velmorinServerMailerMimeBoundary.1_=";

    CSspEmailOut() = default;

    // Empties every text, the header lines and the attachments.
    void Reset();

    // The nine texts a script sets through SetVar and reads back by name.
    std::string m_strTo;
    std::string m_strCc;
    std::string m_strBcc;
    std::string m_strFrom;
    std::string m_strSubject;
    std::string m_strContent;
    std::string m_strContentType;
    std::string m_strContentTransferEncoding;
    std::string m_strDoNotSendTo;  // one address this message must never be queued to

    // Appends one whole header line. Embedded line breaks survive only as folded
    // continuations (a following line that begins with a blank or TAB); any other
    // line the text holds is dropped, so a script cannot add header lines of its own.
    void AddHeader(const std::string& line);
    const std::vector<std::string>& HeaderLines() const { return m_headerLines; }

    // Appends an attachment: its file name and its bytes.
    void Attach(const std::string& name, std::string bytes);
    size_t AttachmentCount() const { return m_attachmentNames.size(); }

    // Composes the message and writes it to a new outbox file under root.
    // Returns 1 when the file was written, 0 when the message was refused
    // (DoNotSendTo, or an element of from, to, cc or bcc that is not an
    // address) or the file could not be written; all are logged, except that
    // the address error goes to addressError instead when that is given.
    // Fills an empty from with the administrator address, an empty to with from,
    // and an empty contentType with "text/plain" where the MIME form needs one.
    int Send(const CMailSettings& settings, const std::string& root, CLogWriter& log,
             const MailClock& clock = {}, std::string* addressError = nullptr);

    // Send() with the process's settings, root folder and log.
    int Send(std::string* addressError = nullptr);

    // Queues a notice from and to the administrator (error mail of the
    // scheduled tasks). Without an administrator address nothing is queued and
    // 0 is returned: such a mail could never be delivered and would stay in the
    // outbox for ever.
    static int QueueToAdministrator(const CMailSettings& settings, const std::string& root,
                                    const std::string& subject, const std::string& content,
                                    CLogWriter& log, const MailClock& clock = {});

    // The outbox file's bytes for this message, after the defaults of Send() are
    // applied. Exposed for the sender's readers and tests.
    std::string ComposeOutboxText(const CMailSettings& settings);

    // Script members: Send, AddHeader, attach, SetVar and the nine texts.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

private:
    // An empty from becomes the administrator; an empty to becomes from and
    // marks the message as having no receiver.
    void ApplyAddressDefaults(const CMailSettings& settings);
    std::string* FieldByName(const std::string& name);
    // "Not an email address in To: ..." for the first element of from, to, cc
    // or bcc that is not an address; empty when every one is.
    std::string AddressError() const;
    bool GoesToDoNotSendTo() const;
    std::string ComposeBodyPart(const CMailSettings& settings) const;

    std::vector<std::string> m_headerLines;
    std::vector<std::string> m_attachmentNames;
    std::vector<std::string> m_attachmentData;
    bool m_bNoReceiver = false;
};
