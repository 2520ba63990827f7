// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string_view>

// Stops the fuzzer on a broken invariant, naming it and the text that broke it.
inline void check(bool ok, const char *what, std::string_view text)
{
    if (!ok) {
        std::fprintf(stderr, "invariant broken: %s for \"%.*s\"\n", what, int(text.size()),
                     text.data());
        std::abort();
    }
}
