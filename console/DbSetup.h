// The data-source check the console runs before its window opens: the configured data source
// must exist, open, and hold the application's tables; missing tables are created from the
// set-up script of the database kind. Connections never prompt.
#pragma once

#include <functional>
#include <string>

class COdbcConnection;
class CServerSettings;

// What the check asks of the user; the window fills it, tests fake it.
class CDbSetupUi {
public:
    virtual ~CDbSetupUi() = default;
    // An information message box.
    virtual void ShowMessage(const std::string& text) = 0;
    // A Yes/No question; true for Yes.
    virtual bool Ask(const std::string& question) = 0;
    // The data source dialog with the current DSN, why it is shown and the default name;
    // false when cancelled, else `dsn` holds the choice.
    virtual bool ChooseDataSource(std::string& dsn, const std::string& message,
                                  const std::string& defaultName) = 0;
    // The Create Tables dialog over the open database; true when it ended with OK.
    virtual bool CreateTables(const std::string& info, const std::string& scriptPath,
                              COdbcConnection& db) = 0;
};

class CDbSetup {
public:
    static constexpr const char* kDefaultConnect = "ODBC;DSN=zr2";
    static constexpr const char* kRequiredTable = "zr2_registry";
    static constexpr int kStartupMode = 2;

    CDbSetup(std::string root, CDbSetupUi& ui);

    void SetMode(int mode) { m_nMode = mode; }
    int Mode() const { return m_nMode; }

    static std::string GetConnectStringValue(const std::string& connect, const std::string& key);
    static void SetConnectStringValue(std::string& connect, const std::string& key,
                                      const std::string& value);

    // 0 when the table can be read; 1 when it is missing; 2 for any other error, shown first.
    int TableExists(COdbcConnection& db, const std::string& table);
    // 2 when the mode requires no table; else TableExists of the required one.
    int CheckRegistryTable(COdbcConnection& db, const std::string& connect);
    // Opens the Create Tables dialog with the info and script of the data source's kind.
    bool CreateTables(COdbcConnection& db, const std::string& connect);
    // The set-up script of a kind; empty for an unknown one.
    std::string ScriptFor(const std::string& kind) const;
    // Until a usable data source is chosen (true; `connect` is then the driver's completed
    // string, FRL=F turned to T) or the user cancels (false).
    bool EnsureDataSource(std::string& connect);
    // The Create Tables dialog's OK: runs the script (each statement shown through `status`,
    // each failure asked about) and checks the required table again. True when the dialog
    // may close with OK.
    bool RunCreateTables(const std::string& script, COdbcConnection& db, const std::string& connect,
                         const std::function<void(const std::string&)>& status);
    // The start-up check on the settings' connection string; a changed string is saved.
    bool StartupCheck(CServerSettings& settings);

private:
    std::string m_root;
    CDbSetupUi& m_ui;
    int m_nMode = 0;
};
