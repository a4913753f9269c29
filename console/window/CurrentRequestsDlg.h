// The server's open connections, with a command that drops the selected one.
#pragma once

#include <QDialog>
#include <string>

class QLabel;
class QPushButton;
class QTreeWidget;

class CCurrentRequestsDlg : public QDialog {
public:
    // The server answering the console protocol at address and port.
    CCurrentRequestsDlg(QWidget* parent, std::string address, int port);

    // Lists the requests again.
    void Refresh();
    // Asks the server to drop the selected request, waits for it to go and lists again.
    void OnDisconnect();

    QTreeWidget* List() const { return m_list; }
    QLabel* HighWater() const { return m_highWater; }
    QPushButton* DisconnectButton() const { return m_disconnect; }

private:
    std::string m_address;
    int m_port;
    QTreeWidget* m_list;
    QLabel* m_highWater;
    QPushButton* m_disconnect;
};
