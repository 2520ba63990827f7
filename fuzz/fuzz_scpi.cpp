// SPDX-License-Identifier: MIT
// One SCPI connection on arbitrary bytes, with the supply's side played by
// control bytes among them: 0x01 ends the oldest job, 0x02 fails it, 0x03
// takes the next byte as a frame's status byte (0x03 0x00 silence). Whatever
// comes, every answer is a whole line, the error queue stays bounded, no job
// starts before the token was sent, and the session leaves no job behind.
#include "fuzz/fuzzcheck.h"
#include "protocol/statusframe.h"
#include "scpi/session.h"

#include <deque>
#include <optional>
#include <string>

namespace {

using namespace korvale;
using namespace korvale::scpi;

constexpr std::string_view kToken = "k3y";

class Supply final : public Instrument
{
public:
    std::optional<StatusReadings> frame;
    std::deque<std::pair<JobId, Done>> running;
    std::size_t started = 0;

    const StatusReadings *latest() const override { return frame ? &*frame : nullptr; }
    JobId start(const Job &, Done done) override
    {
        ++started;
        running.emplace_back(++m_last, std::move(done));
        return m_last;
    }
    void cancel(JobId job) override
    {
        std::erase_if(running, [job](const auto &r) { return r.first == job; });
    }
    void finish(Error error)
    {
        if (running.empty())
            return;
        const Done done = std::move(running.front().second);
        running.pop_front();
        done(error);
    }

private:
    JobId m_last = 0;
};

void checkLines(const std::string &output, std::string_view text)
{
    check(output.empty() || output.back() == '\n', "output that is not whole lines", text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    Supply supply;
    supply.frame = decodeStatusBlock(encodeStatusFrame({1250, 1000, 125, 1250, 1000, 1000, 0x70}));
    {
        Session session(supply, {"Korvale,FUZZ,0,0", std::string(kToken), 512, 2048});
        std::string late;
        session.outputReady = [&] { late += session.takeOutput(); };
        bool open = true;
        std::string sent;
        std::size_t i = 0;
        while (open && i < size) {
            const char c = text[i++];
            if (c == '\x01' || c == '\x02') {
                supply.finish(c == '\x01' ? Error{} : Error{-240, "no frames"});
                checkLines(late, text);
                late.clear();
            } else if (c == '\x03' && i < size) {
                const std::uint8_t status = data[i++];
                supply.frame = status ? decodeStatusBlock(encodeStatusFrame(
                                            {1250, 1000, 125, 1250, 1000, 1000, status}))
                                      : std::nullopt;
                session.supplyChanged();
            } else {
                const std::size_t end = std::min(text.find_first_of("\x01\x02\x03", i), size);
                sent += text.substr(i - 1, end - i + 1);
                open = session.receive(text.substr(i - 1, end - i + 1));
                i = end;
                const std::string output = session.takeOutput();
                checkLines(output, text);
                check(supply.started == 0 || sent.find(kToken) != std::string::npos,
                      "a job without the token", text);
            }
        }
        // The last line ended and the supply's work done, the queue holds at
        // most sixteen errors.
        open = open && session.receive("\n");
        while (open && session.busy())
            supply.finish({});
        std::string error;
        for (int n = 0; open && n <= 16; ++n) {
            open = session.receive("SYST:ERR?\n");
            error = session.takeOutput();
        }
        check(!open || error.starts_with("0,"), "more than sixteen errors queued", text);
    }
    check(supply.running.empty(), "a job left behind by a session gone", text);
    return 0;
}
