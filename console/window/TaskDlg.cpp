#include "console/window/TaskDlg.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "console/window/FileChoice.h"
#include "console/window/Prompts.h"
#include "console/window/TaskTimes.h"

namespace {

constexpr const char* kDays[] = {"Day",      "Monday", "Tuesday",  "Wednesday",
                                 "Thursday", "Friday", "Saturday", "Sunday"};

}  // namespace

CTaskDlg::CTaskDlg(QWidget* parent, CTaskFields fields, std::string root)
    : QDialog(parent),
      m_fields(std::move(fields)),
      m_root(std::move(root)),
      m_name(new QLineEdit(this)),
      m_enabled(new QCheckBox("Enabled", this)),
      m_script(new QLineEdit(this)),
      m_browse(new QPushButton("Browse...", this)),
      m_mode(new QButtonGroup(this)),
      m_day(new QComboBox(this)),
      m_time(new QComboBox(this)),
      m_interval(new QLineEdit(this)) {
    setWindowTitle(m_fields.m_mode == CTaskFields::kNew ? "New Background Task"
                                                        : "Edit Background Task");
    if (m_fields.m_mode == CTaskFields::kNew) {
        m_fields.m_mode = CTaskFields::kInterval;
    }
    for (const char* day : kDays) {
        m_day->addItem(day);
    }
    m_time->setEditable(true);
    for (int hour = 1; hour <= 23; hour += 2) {
        m_time->addItem(QString::fromStdString(TimeOfDayText(hour * 3600)));
    }

    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    form->addRow("Name: ", m_name);
    form->addRow("", m_enabled);
    auto* script = new QHBoxLayout;
    script->addWidget(m_script);
    script->addWidget(m_browse);
    form->addRow("Script:", script);
    layout->addLayout(form);
    auto* atTime = new QHBoxLayout;
    auto* dayRadio = new QRadioButton("Every ", this);
    atTime->addWidget(dayRadio);
    atTime->addWidget(m_day);
    atTime->addWidget(new QLabel("at", this));
    atTime->addWidget(m_time);
    layout->addLayout(atTime);
    auto* every = new QHBoxLayout;
    auto* intervalRadio = new QRadioButton("Every ", this);
    every->addWidget(intervalRadio);
    every->addWidget(m_interval);
    every->addWidget(new QLabel("minute(s)", this));
    layout->addLayout(every);
    m_mode->addButton(dayRadio, CTaskFields::kDayAndTime);
    m_mode->addButton(intervalRadio, CTaskFields::kInterval);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    layout->addWidget(buttons);

    m_name->setText(QString::fromStdString(m_fields.m_name));
    m_name->setEnabled(!m_fields.m_nameLocked);
    m_enabled->setChecked(m_fields.m_enabled);
    m_script->setText(QString::fromStdString(m_fields.m_script));
    m_interval->setText(QString::fromStdString(m_fields.m_interval));
    m_day->setCurrentIndex(m_day->findText(QString::fromStdString(m_fields.m_day)));
    m_time->setEditText(QString::fromStdString(m_fields.m_time));
    m_mode->button(m_fields.m_mode)->setChecked(true);
    if (m_fields.m_emailSender) {
        m_script->setEnabled(false);
        m_browse->setEnabled(false);
        dayRadio->setEnabled(false);
    }
    EnableMode();

    connect(m_mode, &QButtonGroup::idClicked, this, [this] { EnableMode(); });
    connect(m_browse, &QPushButton::clicked, this, [this] { OnBrowse(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] { OnOK(); });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CTaskDlg::EnableMode() {
    const bool atTime = m_mode->checkedId() == CTaskFields::kDayAndTime;
    m_day->setEnabled(atTime);
    m_time->setEnabled(atTime);
    m_interval->setEnabled(!atTime);
}

void CTaskDlg::Exchange() {
    m_fields.m_name = m_name->text().trimmed().toStdString();
    m_fields.m_enabled = m_enabled->isChecked();
    m_fields.m_script = m_script->text().trimmed().toStdString();
    m_fields.m_mode = m_mode->checkedId();
    m_fields.m_interval = m_interval->text().trimmed().toStdString();
    m_fields.m_day = m_day->currentText().toStdString();
    m_fields.m_time = m_time->currentText().trimmed().toStdString();
}

bool CTaskDlg::OnOK() {
    Exchange();
    const auto refuse = [this](const char* text, QWidget* control) {
        ShowMessage(this, text);
        control->setFocus();
        return false;
    };
    if (m_fields.m_name.empty()) {
        return refuse("Please enter task name.", m_name);
    }
    if (m_fields.m_script.empty()) {
        return refuse("Please enter script name.", m_script);
    }
    if (m_fields.m_mode == CTaskFields::kInterval) {
        bool ok = false;
        const int minutes = QString::fromStdString(m_fields.m_interval).toInt(&ok);
        if (!ok || minutes < 1 || minutes > 1440) {
            return refuse("Please enter an interval between 1 and 1440 minutes.", m_interval);
        }
    } else {
        if (m_fields.m_day.empty()) {
            m_day->setCurrentIndex(0);
            return refuse("Please select the day for this task to run.", m_day);
        }
        int64_t seconds = 0;
        if (!ParseTimeOfDay(m_fields.m_time, seconds)) {
            return refuse("Please select or enter the time for this task to run.", m_time);
        }
    }
    accept();
    return true;
}

void CTaskDlg::OnBrowse() {
    CFileChoice choice;
    choice.m_title = "Select a Script";
    choice.m_folder = m_root + "/webroot";
    choice.m_fileName = m_script->text().left(260).toStdString();
    choice.m_patterns = {"*.zrs"};
    choice.m_mustExist = true;
    const std::optional<std::string> path = ChooseOpenFile(this, choice);
    if (path && !path->empty()) {
        m_script->setText(QString::fromStdString(*path));
    }
}
