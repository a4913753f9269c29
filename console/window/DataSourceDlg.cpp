#include "console/window/DataSourceDlg.h"

#include <QDialogButtonBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "console/DataSourceSetup.h"
#include "console/window/DataSourceForm.h"
#include "console/window/Prompts.h"
#include "console/window/ReportList.h"
#include "console/window/RunModal.h"
#include "engine/foundation/AsciiSpace.h"

namespace {

QPushButton* Button(QWidget* parent, const char* text, QLayout* layout) {
    auto* button = new QPushButton(text, parent);
    layout->addWidget(button);
    return button;
}

}  // namespace

CDataSourceDlg::CDataSourceDlg(QWidget* parent, std::string root, const std::string& current,
                               std::string defaultName, const std::string& message)
    : QDialog(parent),
      m_root(std::move(root)),
      m_defaultName(std::move(defaultName)),
      m_group(new QGroupBox("Current data source", this)),
      m_current(new QLineEdit(QString::fromStdString(current), this)),
      m_configure(new QPushButton("Configure...", this)),
      m_drivers(MakeReportList(this, {"ODBC Driver"})),
      m_sources(MakeReportList(this, {"Name", "ODBC Driver"})),
      m_createDefault(new QPushButton("&Create\nDefault", this)),
      m_ok(nullptr),
      m_runForm(&RunModal<CDataSourceForm>) {
    setWindowTitle(QString::fromStdString(DataSourceDialogTitle(m_defaultName, current)));
    auto* note = new QPlainTextEdit(QString::fromStdString(message), this);
    note->setReadOnly(true);
    note->setMaximumHeight(70);
    auto* groupLayout = new QHBoxLayout(m_group);
    groupLayout->addWidget(m_current);
    groupLayout->addWidget(m_configure);

    auto* lists = new QHBoxLayout;
    auto* driverSide = new QVBoxLayout;
    driverSide->addWidget(m_drivers);
    QPushButton* create = Button(this, "Create...", driverSide);
    auto* sourceSide = new QVBoxLayout;
    sourceSide->addWidget(m_sources);
    QPushButton* select = Button(this, "Select", sourceSide);
    lists->addLayout(driverSide);
    lists->addLayout(sourceSide);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QDialogButtonBox::Ok);
    buttons->addButton(QDialogButtonBox::Cancel);
    buttons->addButton(m_createDefault, QDialogButtonBox::ActionRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_group);
    layout->addWidget(note);
    layout->addLayout(lists);
    layout->addWidget(buttons);

    std::vector<std::string> drivers;
    std::string error;
    if (!ListDrivers(drivers, error)) {
        ShowMessage(this, "Failed to get driver list", EPromptKind::kError);
    }
    for (const std::string& driver : drivers) {
        (new QTreeWidgetItem(m_drivers))->setText(0, QString::fromStdString(driver));
    }
    if (m_drivers->topLevelItemCount() > 0) {
        m_drivers->setCurrentItem(m_drivers->topLevelItem(0));
    }
    ListSources();
    const bool haveCurrent = !current.empty();
    m_ok->setEnabled(haveCurrent);
    m_configure->setEnabled(haveCurrent);
    if (m_defaultName.empty()) {
        m_createDefault->hide();
        m_group->setTitle("New data source");
    }

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(select, &QPushButton::clicked, this, [this] { OnSelect(); });
    connect(m_sources, &QTreeWidget::itemDoubleClicked, this, [this] { OnSelect(); });
    connect(create, &QPushButton::clicked, this, [this] { OnCreate(); });
    connect(m_drivers, &QTreeWidget::itemDoubleClicked, this, [this] { OnCreate(); });
    connect(m_createDefault, &QPushButton::clicked, this, [this] { OnCreateDefault(); });
    connect(m_configure, &QPushButton::clicked, this, [this] { OnConfigure(); });
}

std::string CDataSourceDlg::Current() const {
    return std::string(TrimAsciiSpace(m_current->text().toStdString()));
}

void CDataSourceDlg::ListSources() {
    m_sources->clear();
    std::string error;
    m_listed.clear();
    if (!ListDataSources(m_listed, error)) {
        ShowMessage(this, error, EPromptKind::kError);
    }
    for (const CDataSourceEntry& entry : m_listed) {
        auto* item = new QTreeWidgetItem(m_sources);
        item->setText(0, QString::fromStdString(entry.m_name));
        item->setText(1, QString::fromStdString(entry.m_driver));
    }
    if (m_sources->topLevelItemCount() > 0) {
        m_sources->setCurrentItem(m_sources->topLevelItem(0));
    }
}

void CDataSourceDlg::SetCurrent(const std::string& name) {
    m_current->setText(QString::fromStdString(name));
    m_ok->setEnabled(true);
    m_configure->setEnabled(true);
}

void CDataSourceDlg::OnSelect() {
    const QTreeWidgetItem* item = m_sources->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select driver type first.");
        return;
    }
    SetCurrent(item->text(0).toStdString());
}

void CDataSourceDlg::OnCreate() {
    const QTreeWidgetItem* item = m_drivers->currentItem();
    if (item == nullptr) {
        ShowMessage(this, "Please select driver type first.");
        return;
    }
    const std::string driver = item->text(0).toStdString();
    std::vector<CDataSourceEntry> now;
    std::string error;
    ListDataSources(now, error);
    const std::string suggested =
        UnusedDataSourceName(SuggestedDsnAttribute(m_defaultName, driver).substr(4), now);
    CDataSourceForm form(this, DriverKind(driver), suggested, false, {});
    if (!m_runForm(form)) {
        return;
    }
    const std::string name = form.Name();
    if (DataSourceExists(name)) {
        if (!AskYesNo(this, ReplaceDataSourceQuestion(name), true)) {
            return;
        }
        if (!ReplaceDataSource(name, driver, form.Attributes(), error)) {
            ShowMessage(this, error, EPromptKind::kError);
            return;
        }
        ListSources();
        SetCurrent(name);
        return;
    }
    if (!CreateDataSource(name, driver, form.Attributes(), error)) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    const std::vector<CDataSourceEntry> before = m_listed;
    ListSources();
    const std::string created = FindNewDataSource(before, m_listed);
    if (created.empty()) {
        ShowMessage(this,
                    "You may have modified an existing data source.\nPlease select this data "
                    "source from the system data source list.");
        return;
    }
    SetCurrent(created);
}

void CDataSourceDlg::OnCreateDefault() {
    // Already the default: nothing to write.
    if (IsDefaultDataSource(m_root, m_defaultName)) {
        SetCurrent(m_defaultName);
        return;
    }
    std::string error;
    bool written = false;
    if (DataSourceExists(m_defaultName)) {
        if (!AskYesNo(this, ReplaceDataSourceQuestion(m_defaultName), true)) {
            return;
        }
        written =
            ReplaceDataSource(m_defaultName, kDefaultDriver, DefaultDataSourceKeys(m_root), error);
    } else {
        written = CreateDefaultDataSource(m_root, m_defaultName, error);
    }
    if (!written) {
        ShowMessage(this, error, EPromptKind::kError);
        return;
    }
    const std::vector<CDataSourceEntry> before = m_listed;
    ListSources();
    const std::string created = FindNewDataSource(before, m_listed);
    SetCurrent(created.empty() ? m_defaultName : created);
}

void CDataSourceDlg::OnConfigure() {
    const std::string name = Current();
    std::string driver;
    std::string error;
    if (!DriverForConfigure(name, m_listed, driver, error)) {
        ShowMessage(this, error);
        return;
    }
    const std::string kind = DriverKind(driver);
    std::map<std::string, std::string> values;
    for (const std::string& key : CDataSourceForm::FieldsFor(kind)) {
        values[key] = DataSourceAttribute(name, key);
    }
    CDataSourceForm form(this, kind, name, true, values);
    if (!m_runForm(form)) {
        return;
    }
    if (!ConfigureDataSource(name, form.Attributes(), error)) {
        ShowMessage(this, error, EPromptKind::kError);
    }
}
