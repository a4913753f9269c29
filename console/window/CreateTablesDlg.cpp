#include "console/window/CreateTablesDlg.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <initializer_list>
#include <vector>

#include "console/DbSetup.h"
#include "console/SqlScript.h"
#include "console/window/FileChoice.h"
#include "console/window/Prompts.h"
#include "console/window/WaitCursor.h"
#include "engine/data/OdbcConnection.h"

namespace {

// Marks the script as running and keeps the buttons disabled for its scope.
class CRunningScript {
public:
    CRunningScript(bool& running, std::initializer_list<QPushButton*> buttons)
        : m_running(running), m_buttons(buttons) {
        m_running = true;
        for (QPushButton* button : m_buttons) {
            button->setEnabled(false);
        }
    }
    ~CRunningScript() {
        m_running = false;
        for (QPushButton* button : m_buttons) {
            button->setEnabled(true);
        }
    }
    CRunningScript(const CRunningScript&) = delete;
    CRunningScript& operator=(const CRunningScript&) = delete;

private:
    bool& m_running;
    std::vector<QPushButton*> m_buttons;
};

}  // namespace

CCreateTablesDlg::CCreateTablesDlg(QWidget* parent, CDbSetup& setup, COdbcConnection& db,
                                   const std::string& info, const std::string& scriptPath)
    : QDialog(parent),
      m_setup(setup),
      m_db(db),
      m_script(new QPlainTextEdit(this)),
      m_status(new QLabel(this)),
      m_ok(nullptr),
      m_cancel(nullptr) {
    setWindowTitle("Create Tables");
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QString::fromStdString("Create tables in " + info), this));
    layout->addWidget(m_script);
    layout->addWidget(m_status);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    m_cancel = buttons->button(QDialogButtonBox::Cancel);
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

void CCreateTablesDlg::reject() {
    if (!m_running) {
        QDialog::reject();
    }
}

bool CCreateTablesDlg::OnOK() {
    // The status callback lets events through, a click among them.
    if (m_running) {
        return false;
    }
    bool done = false;
    {
        CRunningScript running(m_running, {m_ok, m_cancel});
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
