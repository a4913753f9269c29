#include "console/window/DbPage.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/ConsoleMessages.h"
#include "console/DataSources.h"
#include "console/DatabaseCompact.h"
#include "console/DbSetup.h"
#include "console/ServerControl.h"
#include "console/window/DataSourceDlg.h"
#include "console/window/Prompts.h"
#include "console/window/RunModal.h"
#include "console/window/WaitCursor.h"
#include "console/window/WindowDbSetupUi.h"
#include "engine/data/DbException.h"
#include "engine/data/OdbcConnection.h"
#include "engine/foundation/ConnectString.h"
#include "engine/settings/ServerSettings.h"

CDbPage::CDbPage(QWidget* parent, CServerSettings& settings, CConsoleContext& context)
    : CSettingsPage(parent, settings),
      m_context(context),
      m_connect(new QLineEdit(this)),
      m_serialize(new QCheckBox("Serialize database access (see help)", this)),
      m_threadOwn(new QCheckBox("Don't share database connections (see help)", this)),
      m_runDialog(&RunModal<CDataSourceDlg>) {
    auto* change = new QPushButton("Change...", this);
    auto* compact = new QPushButton("Compact", this);
    auto* row = new QHBoxLayout;
    row->addWidget(m_connect);
    row->addWidget(change);
    row->addWidget(compact);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel("ODBC connect string:", this));
    layout->addLayout(row);
    layout->addWidget(m_serialize);
    layout->addWidget(m_threadOwn);
    layout->addWidget(new QLabel(
        "Serialized access runs one page at a time against the database; unshared connections "
        "give every server thread a connection of its own.",
        this));
    layout->addStretch();
    connect(change, &QPushButton::clicked, this, [this] { OnChange(); });
    connect(compact, &QPushButton::clicked, this, [this] { OnCompact(); });
    // Serialized access may share a connection; unserialized access cannot.
    connect(m_serialize, &QCheckBox::clicked, this, [this](bool serialize) {
        m_threadOwn->setChecked(!serialize);
        m_threadOwn->setEnabled(serialize);
    });
}

void CDbPage::ReadSettings() {
    m_connect->setText(QString::fromStdString(m_settings.DbOdbcConnectString));
    m_serialize->setChecked(m_settings.DbAccessSerialize);
    m_threadOwn->setChecked(m_settings.DbConnectionThreadOwn);
    m_threadOwn->setEnabled(m_settings.DbAccessSerialize);
}

bool CDbPage::WriteSettings() {
    m_settings.DbOdbcConnectString = m_connect->text().toStdString();
    m_settings.DbAccessSerialize = m_serialize->isChecked();
    m_settings.DbConnectionThreadOwn = m_threadOwn->isChecked();
    return true;
}

std::string CDbPage::OpenChosen(const std::string& dsn) {
    std::string connection = "DSN=" + dsn;
    const std::string lastUser = DataSourceAttribute(dsn, "LastUser");
    if (!lastUser.empty()) {
        connection += ";UID=" + lastUser;
    }
    CWindowDbSetupUi ui(this, m_context.m_root);
    CDbSetup setup(m_context.m_root, ui);
    ui.SetDbSetup(&setup);
    setup.SetMode(CDbSetup::kStartupMode);
    try {
        COdbcConnection db;
        db.Open(connection);
        const int tables = setup.CheckRegistryTable(db, connection);
        if (tables != 0 && !(tables == 1 && setup.CreateTables(db, connection))) {
            return std::string();
        }
        std::string completed = db.CompletedConnectString();
        if (ConnectStringValue(completed, "FRL") == "F") {
            SetConnectStringValue(completed, "FRL", "T");
        }
        return completed;
    } catch (const CDbException& e) {
        ShowMessage(this, e.what(), EPromptKind::kError);
    }
    return std::string();
}

void CDbPage::OnChange() {
    WriteSettings();
    CDataSourceDlg dialog(
        this, m_context.m_root,
        ConnectStringValue(StripOdbcPrefix(m_settings.DbOdbcConnectString), "DSN"),
        ConnectStringValue(StripOdbcPrefix(CDbSetup::kDefaultConnect), "DSN"),
        ConsoleMessages().msgRestartToApply);
    if (m_runDialog(dialog)) {
        const std::string completed = OpenChosen(dialog.Current());
        if (!completed.empty()) {
            m_settings.DbOdbcConnectString = "ODBC;" + completed;
        }
    }
    ReadSettings();
}

void CDbPage::OnCompact() {
    const std::string file = DataSourceFile(StripOdbcPrefix(m_settings.DbOdbcConnectString));
    if (file.empty()) {
        ShowMessage(this, "You can only compact MS Access database files.");
        return;
    }
    if (m_context.m_control.IsServerRunning()) {
        ShowMessage(this, ConsoleMessages().msgStopBeforeCompact);
        return;
    }
    std::string error;
    bool compacted = false;
    {
        CWaitCursor wait;
        compacted = CompactAccessDatabase(file, file, error);
    }
    if (!compacted) {
        ShowMessage(this, "Failed to compact the database file.\n" + error, EPromptKind::kError);
        return;
    }
    ShowMessage(this, "Database file has been compacted.");
}
