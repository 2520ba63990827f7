// SPDX-License-Identifier: MIT
#pragma once

#include "scpi/instrument.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

// One connection's errors, oldest first, as SYST:ERR? reads them.
namespace korvale::scpi {

// The standard text of an error number, "" for one this program never uses.
std::string_view errorText(int code);

class ErrorQueue
{
public:
    static constexpr std::size_t kCapacity = 16;

    // A full queue keeps its oldest entries and says it overflowed in the
    // newest one, so a script sees that it lost errors and where. False then.
    bool push(Error error);
    // `0,"No error"` when empty.
    std::string take();
    bool empty() const { return m_errors.empty(); }
    std::size_t size() const { return m_errors.size(); }
    void clear() { m_errors.clear(); }

private:
    std::deque<Error> m_errors;
};

} // namespace korvale::scpi
