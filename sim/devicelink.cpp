// SPDX-License-Identifier: MIT
#include "sim/devicelink.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace korvale::sim {

bool DeviceLink::pointTo(const std::string &target, std::string *error)
{
    const std::string temporary = m_path + ".new-" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        if (error)
            *error = temporary + ": " + std::strerror(errno);
        return false;
    }
    if (std::rename(temporary.c_str(), m_path.c_str()) != 0) {
        if (error)
            *error = m_path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    m_target = target;
    return true;
}

void DeviceLink::remove()
{
    if (m_target.empty())
        return;
    std::array<char, 4096> current{};
    const ssize_t n = ::readlink(m_path.c_str(), current.data(), current.size() - 1);
    if (n >= 0 && std::string(current.data(), std::size_t(n)) == m_target)
        ::unlink(m_path.c_str());
    m_target.clear();
}

} // namespace korvale::sim
