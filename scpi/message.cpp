// SPDX-License-Identifier: MIT
#include "scpi/message.h"

#include <charconv>
#include <optional>
#include <system_error>

namespace korvale::scpi {

namespace {

constexpr std::size_t kMaxMnemonic = 12;

bool isLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isWhite(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// Reads one unit at a time; on a fault `error` is set and reading stops.
class Reader
{
public:
    explicit Reader(std::string_view line) : m_s(line) {}

    Message read()
    {
        Message message;
        for (;;) {
            skipWhite();
            if (atEnd())
                return message;
            if (peek() == ';') { // an empty unit says nothing
                ++m_i;
                continue;
            }
            Unit unit;
            if (!readHeader(unit) || !readParameters(unit)) {
                message.error = m_error;
                return message;
            }
            message.units.push_back(std::move(unit));
            if (!atEnd())
                ++m_i; // the ';' readParameters stopped at
        }
    }

private:
    bool atEnd() const { return m_i >= m_s.size(); }
    char peek() const { return atEnd() ? '\0' : m_s[m_i]; }
    void skipWhite()
    {
        while (!atEnd() && isWhite(m_s[m_i]))
            ++m_i;
    }
    bool fail(int code)
    {
        m_error = code;
        return false;
    }

    bool readMnemonic(std::string &out, std::size_t limit = kMaxMnemonic)
    {
        if (!isLetter(peek()))
            return fail(-102);
        const std::size_t start = m_i;
        while (!atEnd() && (isLetter(peek()) || isDigit(peek()) || peek() == '_'))
            ++m_i;
        out = m_s.substr(start, m_i - start);
        return out.size() <= limit || fail(-112);
    }

    bool readHeader(Unit &unit)
    {
        if (peek() == '*') {
            ++m_i;
            unit.common = true;
            if (!readMnemonic(unit.nodes.emplace_back()))
                return false;
        } else {
            if (peek() == ':') {
                ++m_i;
                unit.absolute = true;
            }
            for (;;) {
                if (!readMnemonic(unit.nodes.emplace_back()))
                    return false;
                if (peek() != ':')
                    break;
                ++m_i;
            }
        }
        if (peek() == '?') {
            ++m_i;
            unit.query = true;
        }
        // The header ends at white space or at the end of the unit.
        return atEnd() || peek() == ';' || isWhite(peek()) || fail(-102);
    }

    bool readParameters(Unit &unit)
    {
        skipWhite();
        if (atEnd() || peek() == ';')
            return true;
        for (;;) {
            if (!readParameter(unit.parameters.emplace_back()))
                return false;
            skipWhite();
            if (atEnd() || peek() == ';')
                return true;
            if (peek() != ',')
                return fail(-102);
            ++m_i;
            skipWhite();
        }
    }

    bool readParameter(Parameter &p)
    {
        const char c = peek();
        if (c == '"' || c == '\'')
            return readString(p);
        if (isLetter(c)) {
            p.type = Parameter::Type::Character;
            // Unbounded here, so that a token may come unquoted.
            return readMnemonic(p.text, m_s.size());
        }
        if (isDigit(c) || c == '+' || c == '-' || c == '.')
            return readNumber(p);
        return fail(-102);
    }

    bool readString(Parameter &p)
    {
        p.type = Parameter::Type::String;
        const char quote = m_s[m_i++];
        for (;;) {
            if (atEnd())
                return fail(-102);
            const char c = m_s[m_i++];
            if (c == quote) {
                if (peek() != quote)
                    return true;
                ++m_i;
            }
            p.text += c;
        }
    }

    std::size_t digits()
    {
        const std::size_t start = m_i;
        while (isDigit(peek()))
            ++m_i;
        return m_i - start;
    }

    bool readNumber(Parameter &p)
    {
        const std::size_t start = m_i;
        if (peek() == '+' || peek() == '-')
            ++m_i;
        std::size_t mantissa = digits();
        if (peek() == '.') {
            ++m_i;
            mantissa += digits();
        }
        if (mantissa == 0)
            return fail(-102);
        std::size_t end = m_i;
        // An exponent, or white space and a suffix that starts with E.
        skipWhite();
        if (peek() == 'e' || peek() == 'E') {
            const std::size_t e = m_i++;
            skipWhite();
            if (peek() == '+' || peek() == '-')
                ++m_i;
            if (digits() == 0)
                m_i = e;
            else
                end = m_i;
        }
        m_i = end;
        std::string text;
        for (std::size_t i = start; i < end; ++i) {
            if (!isWhite(m_s[i]))
                text += m_s[i];
        }
        // from_chars takes no '+'.
        const std::size_t skip = text[0] == '+' ? 1 : 0;
        const auto [ptr, ec] =
            std::from_chars(text.data() + skip, text.data() + text.size(), p.number);
        if (ec == std::errc::result_out_of_range)
            return fail(-123);
        if (ec != std::errc() || ptr != text.data() + text.size())
            return fail(-102);
        p.type = Parameter::Type::Numeric;
        p.text = std::move(text);
        skipWhite();
        if (isLetter(peek())) {
            const std::size_t s = m_i;
            while (isLetter(peek()))
                ++m_i;
            p.suffix = m_s.substr(s, m_i - s);
        } else {
            m_i = end;
        }
        return true;
    }

    std::string_view m_s;
    std::size_t m_i = 0;
    int m_error = 0;
};

} // namespace

Message parseMessage(std::string_view line)
{
    return Reader(line).read();
}

} // namespace korvale::scpi
