// The box shown while the host's full name is looked up.
#pragma once

#include <QDialog>

class CResolvingDlg : public QDialog {
public:
    static constexpr const char* kText =
        "Getting Fully Qualified Domain Name for the IP address for this machine. Please wait.";

    explicit CResolvingDlg(QWidget* parent);
};
