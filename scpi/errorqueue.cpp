// SPDX-License-Identifier: MIT
#include "scpi/errorqueue.h"

#include <utility>

namespace korvale::scpi {

std::string_view errorText(int code)
{
    switch (code) {
    case 0:
        return "No error";
    case -102:
        return "Syntax error";
    case -104:
        return "Data type error";
    case -108:
        return "Parameter not allowed";
    case -109:
        return "Missing parameter";
    case -112:
        return "Program mnemonic too long";
    case -113:
        return "Undefined header";
    case -123:
        return "Exponent too large";
    case -131:
        return "Invalid suffix";
    case -138:
        return "Suffix not allowed";
    case -200:
        return "Execution error";
    case -203:
        return "Command protected";
    case -222:
        return "Data out of range";
    case -224:
        return "Illegal parameter value";
    case -230:
        return "Data corrupt or stale";
    case -240:
        return "Hardware error";
    case -350:
        return "Queue overflow";
    default:
        return "";
    }
}

bool ErrorQueue::push(Error error)
{
    if (m_errors.size() < kCapacity) {
        m_errors.push_back(std::move(error));
        return true;
    }
    m_errors.back() = Error{-350, {}};
    return false;
}

std::string ErrorQueue::take()
{
    Error error;
    if (!m_errors.empty()) {
        error = std::move(m_errors.front());
        m_errors.pop_front();
    }
    std::string text(errorText(error.code));
    if (!error.detail.empty())
        text += ';' + error.detail;
    // String response data: a quote inside is doubled.
    std::string quoted = std::to_string(error.code) + ",\"";
    for (const char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + '"';
}

} // namespace korvale::scpi
