// The script object `email_in`: downloads a POP3 account once into its
// mailbox folder of the spool (<root>/mail/<mailbox>) and walks the stored
// ".eml" files, parsing the current one on the first member that needs it.
//
// The mailbox folder is Address when set, else Username (cut before the first
// of \ / : * ? " < > |) + "@" + Pop3Host. A mailbox or MoveToFolder name that
// holds ".." is refused, so nothing is read or written outside the spool.
// One object belongs to one run on one thread; no lock.
#pragma once

#include <string>
#include <vector>

#include "engine/mail/MimeReader.h"
#include "engine/mail/Pop3Client.h"
#include "engine/script/SspObject.h"

class CLogWriter;
class CMimeMap;

class CSspEmailIn : public CSspObject {
public:
    // An object of the process: root g_rootDir, log g_log, settings g_settings.
    explicit CSspEmailIn(std::string name = std::string());
    // An object over another root, log, POP3 settings and MIME map (tests, tools).
    // mimeMap must outlive the object.
    CSspEmailIn(std::string name, std::string root, CLogWriter& log, const CPop3Settings& pop3,
                const CMimeMap& mimeMap);
    ~CSspEmailIn() override;
    CSspEmailIn(const CSspEmailIn&) = delete;
    CSspEmailIn& operator=(const CSspEmailIn&) = delete;

    // Scripts' members, by name without regard to case. Errors are
    // CSspException at call.m_pPos.
    void CallMethod(CSspInterpreter& interp, CSspCall& call, CSspValue& result) override;

    // Back to a fresh object: texts empty, Pop3Port "110", nothing downloaded,
    // no walk, no attachments. Every run of the declaration calls it.
    void Reset();
    // The declaration's three arguments.
    void SetAccount(const std::string& host, const std::string& user, const std::string& password);

    const std::string& GetName() const { return m_strName; }

    // The mailbox folder's name and full path (see above); empty when refused.
    std::string MailboxName() const;
    std::string MailboxPath() const;

    // Writes attachment index (from 0) of the current message into folder,
    // under its plain file name, replacing a file of that name. Parses first
    // when a parse is pending. The full path goes to *path. False when there
    // is no such attachment or the file cannot be written (logged).
    bool SaveAttachment(size_t index, const std::string& folder, std::string* path = nullptr);

private:
    // The member table and its handlers.
    struct CMembers;

    void DownloadOnce();
    bool NextMessage();
    // Parses FileName when a parse is pending; pos is the error position.
    void EnsureParsed(const char* pos);
    void ForgetWalk();
    const CMailAttachment* CurrentAttachment() const;

    std::string m_strName;
    std::string m_strRoot;
    CLogWriter& m_log;
    CPop3Settings m_pop3;
    bool m_bProcessSettings;  // read the POP3 settings from g_settings at download time
    const CMimeMap& m_mimeMap;

    std::string m_strPop3Host;
    std::string m_strPop3Port = "110";
    std::string m_strUsername;
    std::string m_strPassword;
    std::string m_strFileName;
    bool m_bParsePending = false;
    std::string m_strAddress;
    bool m_bDownloaded = false;
    bool m_bListingStarted = false;
    bool m_bListingOpen = false;
    std::vector<std::string> m_listing;  // file names of the open listing
    size_t m_nListingPos = 0;
    CMimeMessage m_message;
    long m_nAttachment = -1;
};
