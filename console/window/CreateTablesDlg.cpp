#include "console/window/CreateTablesDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/DbSetup.h"
#include "console/SqlScript.h"
#include "console/window/FileChoice.h"
#include "console/window/Prompts.h"
#include "console/window/WaitCursor.h"
#include "engine/data/OdbcConnection.h"

CCreateTablesDlg::CCreateTablesDlg(QWidget* parent, CDbSetup& setup, COdbcConnection& db,
                                   const std::string& info, const std::string& scriptPath)
    : QDialog(parent),
      m_setup(setup),
      m_db(db),
      m_script(new QPlainTextEdit(this)),
      m_status(new QLabel(this)) {
    setWindowTitle("Create Tables");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString("Create tables in " + info), this));
    layout->addWidget(m_script);
    layout->addWidget(m_status);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    QPushButton* load = buttons->addButton("Load...", QDialogButtonBox::ActionRole);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(load, &QPushButton::clicked, this, [this] { OnLoad(); });
    resize(600, 420);
    if (!scriptPath.empty()) {
        LoadScript(scriptPath);
    }
}

bool CCreateTablesDlg::LoadScript(const std::string& path) {
    std::string text;
    std::string error;
    if (!LoadSqlScript(path, text, error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return false;
    }
    m_script->setPlainText(QString::fromStdString(text));
    return true;
}

void CCreateTablesDlg::OnLoad() {
    CFileChoice choice;
    choice.m_title = "Load script";
    choice.m_patterns = {"*.sql", "*.*"};
    choice.m_mustExist = true;
    const std::optional<std::string> path = ChooseOpenFile(this, choice);
    if (path && !path->empty()) {
        LoadScript(*path);
    }
}

bool CCreateTablesDlg::OnOK() {
    bool done = false;
    {
        CWaitCursor wait;
        done = m_setup.RunCreateTables(m_script->toPlainText().toStdString(), m_db,
                                       m_db.CompletedConnectString(),
                                       [this](const std::string& status) {
                                           m_status->setText(QString::fromStdString(status));
                                           QApplication::processEvents();
                                       });
    }
    if (done) {
        accept();
    }
    return done;
}
