// SPDX-License-Identifier: MIT
// The web panel's requests: whatever parseLiveRequest accepts is in range
// and written back gives the message it came from; whatever it refuses says
// why, with the id only when the message starts with one.
#include "fuzz/fuzzcheck.h"
#include "serve/livemessage.h"

#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const korvale::ParsedLiveRequest parsed = korvale::parseLiveRequest(text);
    if (!parsed.request) {
        check(!parsed.why.empty(), "refused without a reason", text);
        check(parsed.id == 0 || text.substr(0, std::to_string(parsed.id).size() + 1) ==
                                    std::to_string(parsed.id) + " ",
              "an id that the message does not start with", text);
        return 0;
    }
    const korvale::LiveRequest &request = *parsed.request;
    check(size <= korvale::kLiveRequestMaxBytes, "a long message accepted", text);
    check(request.id >= 1 && request.command >= 1 && request.command <= 13, "out of range", text);
    check(request.text.size() <= korvale::kLiveTextMaxBytes, "a long text accepted", text);
    const bool arrow = request.command == 12 || request.command == 13;
    check(arrow || request.text.empty(), "a text for a key", text);
    const std::string written =
        std::to_string(request.id) + " Command" + std::to_string(request.command);
    // An arrow's empty text may be written with its space or without.
    check(text == written + (request.text.empty() ? "" : " " + request.text) ||
              (arrow && request.text.empty() && text == written + " "),
          "does not write back as it came", text);
    return 0;
}
