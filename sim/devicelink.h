// SPDX-License-Identifier: MIT
#pragma once

#include <string>

namespace korvale::sim {

// A symbolic link with a fixed name to the current serial end, so a client
// can be told one path and reopen it after the simulator changed devices.
class DeviceLink
{
public:
    explicit DeviceLink(std::string path) : m_path(std::move(path)) {}
    ~DeviceLink() { remove(); }
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    // Replaces whatever is at the path in one step, so a client never finds
    // it missing. Gives a message in *error on failure.
    bool pointTo(const std::string &target, std::string *error);
    // Removes the link only while it is still ours.
    void remove();

    const std::string &path() const { return m_path; }

private:
    std::string m_path;
    std::string m_target;
};

} // namespace korvale::sim
