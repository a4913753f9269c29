#include "console/DbSetup.h"

#include <sql.h>
#include <sqlext.h>

#include "console/ConsoleMessages.h"
#include "console/DataSources.h"
#include "console/SqlScript.h"
#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"
#include "engine/data/OdbcHandle.h"
#include "engine/foundation/AsciiText.h"
#include "engine/foundation/ConnectString.h"
#include "engine/settings/ServerSettings.h"

namespace {

constexpr const char* kSpecify =
    "Specify a data source to store your Velmorin data. To store them in zr2.mdb that comes "
    "with this program, click Create Default then click OK.";

// Whether the catalogue lists the table.
bool CatalogueHasTable(COdbcConnection& db, const std::string& table) {
    COdbcHandle stmt(SQL_HANDLE_STMT, db.Handle());
    std::string name = table;
    const SQLRETURN rc = SQLTables(stmt.Get(), nullptr, 0, nullptr, 0,
                                   reinterpret_cast<SQLCHAR*>(name.data()), SQL_NTS, nullptr, 0);
    OdbcCheck(rc, SQL_HANDLE_STMT, stmt.Get());
    return SQLFetch(stmt.Get()) == SQL_SUCCESS;
}

}  // namespace

CDbSetup::CDbSetup(std::string root, CDbSetupUi& ui) : m_root(std::move(root)), m_ui(ui) {}

std::string CDbSetup::GetConnectStringValue(const std::string& connect, const std::string& key) {
    return ConnectStringValue(connect, key);
}

void CDbSetup::SetConnectStringValue(std::string& connect, const std::string& key,
                                     const std::string& value) {
    ::SetConnectStringValue(connect, key, value);
}

int CDbSetup::TableExists(COdbcConnection& db, const std::string& table) {
    try {
        COdbcHandle stmt(SQL_HANDLE_STMT, db.Handle());
        std::string sql = "SELECT * FROM " + table;
        const SQLRETURN rc =
            SQLExecDirect(stmt.Get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS);
        if (SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA) {
            return 0;
        }
        const CDbException error = CDbException::FromHandle(SQL_HANDLE_STMT, stmt.Get(), rc);
        // Drivers disagree on the state of a missing table: the catalogue decides.
        if (!CatalogueHasTable(db, table)) {
            return 1;
        }
        m_ui.ShowMessage(error.what());
    } catch (const CDbException& e) {
        m_ui.ShowMessage(e.what());
    }
    return 2;
}

int CDbSetup::CheckRegistryTable(COdbcConnection& db, const std::string& connect) {
    if (m_nMode != kStartupMode) {
        return 2;
    }
    const int result = TableExists(db, kRequiredTable);
    if (result == 1 && GetDsnKind(GetConnectStringValue(connect, "DSN")) == "Access") {
        m_ui.ShowMessage(std::string("Table ") + kRequiredTable + " is not found in \n" +
                         GetConnectStringValue(connect, "DBQ") + "\n\n" +
                         "Click the Create Default button see if this problem goes away.\nIf "
                         "not, you should re-install this program. \n");
    }
    return result;
}

std::string CDbSetup::ScriptFor(const std::string& kind) const {
    static const struct {
        const char* m_kind;
        const char* m_file;
    } scripts[] = {{"Mssql", "zr2mssql.sql"},
                   {"Sybase", "zr2sybase.sql"},
                   {"Oracle", "zr2oracle.sql"},
                   {"Sqlite", "zr2sqlite.sql"},
                   {"Postgres", "zr2pgsql.sql"}};
    for (const auto& s : scripts) {
        if (kind == s.m_kind) {
            return m_root + "/data/" + s.m_file;
        }
    }
    return std::string();
}

bool CDbSetup::CreateTables(COdbcConnection& db, const std::string& connect) {
    const std::string kind = GetDsnKind(GetConnectStringValue(connect, "DSN"));
    const std::string user = GetConnectStringValue(connect, "UID");
    std::string info;
    if (kind == "Oracle") {
        info = "user: " + user;
    } else if (!kind.empty() && kind != "Access") {
        std::string database = GetConnectStringValue(connect, "DATABASE");
        info = "database: " + (database.empty() ? std::string("default") : database) +
               " user: " + user;
    }
    const std::string script = info.empty() ? std::string() : ScriptFor(kind);
    if (script.empty()) {
        m_ui.ShowMessage(
            "System failed to detect the type of your database.\nPlease load the script for "
            "your database using the Load button.");
    }
    return m_ui.CreateTables(info, script, db);
}

bool CDbSetup::EnsureDataSource(std::string& connect) {
    std::string dsn = GetConnectStringValue(connect, "DSN");
    std::string message = dsn.empty() ? kSpecify : "";
    const std::string defaultName = GetConnectStringValue(kDefaultConnect, "DSN");
    while (true) {
        if (!message.empty() && !m_ui.ChooseDataSource(dsn, message, defaultName)) {
            return false;
        }
        try {
            std::string connection = "DSN=" + dsn;
            const std::string lastUser = DataSourceAttribute(dsn, "LastUser");
            if (!lastUser.empty()) {
                connection += ";UID=" + lastUser;
            }
            COdbcConnection db;
            db.Open(connection);
            const int tables = CheckRegistryTable(db, connection);
            if (tables != 0 && !(tables == 1 && CreateTables(db, connection))) {
                db.Close();
                message = kSpecify;
                continue;
            }
            connect = db.CompletedConnectString();
            db.Close();
            if (GetConnectStringValue(connect, "FRL") == "F") {
                SetConnectStringValue(connect, "FRL", "T");
            }
            return true;
        } catch (const CDbException& e) {
            if (e.m_strStateNativeOrigin.find(":IM002") != std::string::npos) {
                message = "Data source " + dsn +
                          " not found. Please create or select another one for this program to "
                          "store your data.";
            } else {
                message = e.what();
            }
        }
    }
}

bool CDbSetup::RunCreateTables(const std::string& script, COdbcConnection& db,
                               const std::string& connect,
                               const std::function<void(const std::string&)>& status) {
    if (!db.IsOpen()) {
        m_ui.ShowMessage("Not yet connected to the database. Please cancel.");
        return false;
    }
    if (!RunSqlScript(script, db, status,
                      [this](const std::string& failure) { return m_ui.Ask(failure); })) {
        return false;
    }
    status("All done, click OK to continue.");
    if (CheckRegistryTable(db, connect) == 0) {
        return true;
    }
    return m_ui.Ask(std::string("Table: ") + kRequiredTable +
                    " is still not found. \nThe Velmorin Server will not work. \n\nAre you sure "
                    "you want to continue?");
}

bool CDbSetup::StartupCheck(CServerSettings& settings) {
    m_nMode = kStartupMode;
    std::string connect = StripOdbcPrefix(settings.DbOdbcConnectString);
    const std::string before = connect;
    if (!EnsureDataSource(connect)) {
        m_ui.ShowMessage(ConsoleMessages().msgNoDataSource);
        return false;
    }
    if (connect != before) {
        settings.DbOdbcConnectString = "ODBC;" + connect;
        return settings.SaveConnectString();
    }
    return true;
}
