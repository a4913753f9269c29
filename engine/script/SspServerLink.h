#pragma once

#include <string>
#include <string_view>

class CDataSource;
class CSspCall;
class CSspInterpreter;
class CSspValue;

// The server-side services a run reaches beyond its own text: the data source of its URL,
// the data source's commands, and the members of `Server` that live in the server context.
// The server context installs one at start-up; without one those members raise their
// "not available" texts. Implementations take their own locks.
class CSspServerLink {
public:
    virtual ~CSspServerLink() = default;

    // The data source for pages under `url`; nullptr when none is configured.
    virtual CDataSource* AcquireDataSource(const std::string& url) = 0;
    // Gives back what AcquireDataSource returned.
    virtual void ReleaseDataSource(CDataSource* source) = 0;
    // Registers the connection text for pages under `url`.
    virtual void SetDataSource(const std::string& url, const std::string& connection) = 0;

    // Runs one data-source command: "BeginTrans", "CommitTrans", "Rollback".
    virtual void DataSourceCommand(CDataSource* source, std::string_view command) = 0;
    virtual bool InTransaction(CDataSource* source) = 0;
    virtual std::string DbmsName(CDataSource* source) = 0;
    virtual std::string DbmsVersion(CDataSource* source) = 0;
    // The next unique id of `table`.`column`, kept in `registryTable`.
    virtual int GetUniqueId(CDataSource* source, const std::string& table,
                            const std::string& column, const std::string& registryTable) = 0;

    // Server members that are not the interpreter's own (settings, SendMail, Log, ...).
    virtual void CallServerMember(CSspInterpreter& interp, CSspCall& call, CSspValue& result) = 0;

    // The installed link, or nullptr. Install before any run starts.
    static CSspServerLink* Current();
    static void Install(CSspServerLink* link);
};
