// SPDX-License-Identifier: MIT
#pragma once

#include <cstdio>
#include <memory>

struct WatchOptions;

// The log of watch or serve: the file of --output, appended to, or stdout
// without one. A file that already holds lines gets no second header
// (`options.header` is cleared). Nothing, said on standard error, when the
// file cannot be opened.
std::FILE *openLog(WatchOptions &options);

class RecordWriter;
// Writes the header when the options ask for one; false, said on standard
// error, when it cannot be written.
bool writeLogHeader(RecordWriter &writer, const WatchOptions &options);

// Closes the log unless it is stdout.
struct LogCloser
{
    void operator()(std::FILE *file) const
    {
        if (file != stdout)
            std::fclose(file);
    }
};
using LogFile = std::unique_ptr<std::FILE, LogCloser>;
