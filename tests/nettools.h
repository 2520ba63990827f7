// SPDX-License-Identifier: MIT
#pragma once

#include <QStandardPaths>
#include <QString>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

// A TCP port on 127.0.0.1 that nothing listens on just now.
inline quint16 freeLoopbackPort()
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const bool ok = ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 &&
                    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0;
    ::close(fd);
    return ok ? ntohs(address.sin_port) : 0;
}

// A tool from Debian's packages; Debian puts some in /usr/sbin, which a
// user's PATH may lack. Empty when it is not installed.
inline QString debianTool(const QString &name)
{
    return QStandardPaths::findExecutable(name, {"/usr/bin", "/usr/sbin", "/bin", "/sbin"});
}
