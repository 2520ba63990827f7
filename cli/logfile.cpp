// SPDX-License-Identifier: MIT
#include "cli/logfile.h"

#include "cli/invocation.h"
#include "cli/portopening.h"
#include "logformat/recordwriter.h"

#include <QFile>

#include <cerrno>
#include <cstring>

std::FILE *openLog(WatchOptions &options)
{
    if (options.output.isEmpty())
        return stdout;
    std::FILE *out = std::fopen(QFile::encodeName(options.output).constData(), "a");
    if (!out) {
        tell(QStringLiteral("cannot open the log %1: %2")
                 .arg(options.output, QString::fromLocal8Bit(std::strerror(errno))));
        return nullptr;
    }
    if (std::fseek(out, 0, SEEK_END) == 0 && std::ftell(out) > 0)
        options.header = false;
    return out;
}

bool writeLogHeader(RecordWriter &writer, const WatchOptions &options)
{
    if (!options.header || writer.header())
        return true;
    tell(QStringLiteral("cannot write the log"));
    return false;
}
