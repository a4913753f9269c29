// The Current Requests dialog against the real server: a client that says nothing is listed,
// and Disconnect drops it.
#include "console/window/CurrentRequestsDlg.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QLabel>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include "console/window/tests/PromptRecorder.h"
#include "console/window/tests/WindowFixture.h"
#include "engine/foundation/UniqueFd.h"

namespace {

// Sends a header that promises a body and then says nothing: a server thread waits for it.
CUniqueFd ConnectSilently(int port) {
    CUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::connect(fd.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const std::string header = "POST /silent.zrp HTTP/1.0\r\nContent-Length: 1000000\r\n\r\n";
    EXPECT_EQ(::send(fd.Get(), header.data(), header.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(header.size()));
    return fd;
}

// True when the server closed the connection within the time.
bool ClosedByPeer(int fd, int milliseconds) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, milliseconds) != 1) {
        return false;
    }
    char byte;
    return ::recv(fd, &byte, 1, 0) == 0;
}

}  // namespace

TEST(CurrentRequests, ASilentClientIsListedAndDisconnectClosesIt) {
    CWindowFixture fixture;
    fixture.StartServer();
    CUniqueFd silent = ConnectSilently(fixture.Root().Port());
    CPromptRecorder prompts;
    CCurrentRequestsDlg dialog(nullptr, "127.0.0.1", fixture.Root().Port());
    QTreeWidget& list = *dialog.List();
    QTreeWidgetItem* silentRow = nullptr;
    // The server lists the connection once a thread has taken it.
    for (int attempt = 0; attempt < 100 && silentRow == nullptr; ++attempt) {
        if (attempt > 0) {
            ::usleep(50000);
            dialog.Refresh();
        }
        for (int i = 0; i < list.topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = list.topLevelItem(i);
            // The server leaves out the connection that asks, so this is the silent one.
            EXPECT_EQ(item->text(0), "127.0.0.1");
            silentRow = item;
        }
    }
    ASSERT_NE(silentRow, nullptr);
    EXPECT_NE(silentRow->data(0, Qt::UserRole).toLongLong(), 0);
    EXPECT_TRUE(dialog.HighWater()->text().startsWith("High water mark: "));

    // Nothing selected: the refusal, and the client stays.
    list.setCurrentItem(nullptr);
    dialog.OnDisconnect();
    EXPECT_EQ(prompts.Texts(), std::vector<std::string>{"Please select a request first. "});
    EXPECT_FALSE(ClosedByPeer(silent.Get(), 0));

    list.setCurrentItem(silentRow);
    dialog.OnDisconnect();
    EXPECT_EQ(prompts.Prompts().size(), 1u);
    EXPECT_TRUE(ClosedByPeer(silent.Get(), 2000));
}
