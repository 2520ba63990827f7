// SPDX-License-Identifier: MIT
#include "cli/helptext.h"

namespace {

const char kTool[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) COMMAND [ARGUMENT...]
       korvale-cli [COMMAND] --help

Reads and drives a Korvale power supply on its serial line, from a shell:
logs what the panel's displays and indicators would show, and sends what
the panel's keys and arrow buttons send.

Commands:
  watch           print one line per status frame, as CSV or JSON lines
  press KEY...    press keys, named as printed on the panel:
                  U u N I ENT F P CE I/O
  up N            what the right arrow sends with N (0 to 255) in its box
  down N          what the left arrow sends with N (0 to 255) in its box
  help [COMMAND]  this text, or the help of one command

Port (give one of the two):
  --port 1|2      port 1 is /dev/ttyS0 and port 2 is /dev/ttyS1, unless the
                  environment variable KORVALE_COMM1 or KORVALE_COMM2 names
                  another device, as for korvale-panel
  --device PATH   this device, such as a /dev/serial/by-id/... name, or
                  socket://HOST:PORT for a serial line that ser2net hands
                  to the network (the line settings are then ser2net's)

The line runs at 1200 baud, 8 data bits, no parity, 1 stop bit, no flow
control, with DTR raised while the port is open. Only one program can hold
the port at a time: korvale-cli and korvale-panel (or two korvale-cli runs)
cannot use the same port together.

Exit status: 0 done; 1 the port could not be opened, went away, or did not
take the frames; 2 usage error (then nothing was sent).

Examples:
  Log the readings to a CSV file for an hour:
    korvale-cli --port 1 watch --duration 3600 > readings.csv

  Select the voltage setting, then raise it one step at a time, logging
  five seconds after each step:
    korvale-cli --port 1 press U
    korvale-cli --port 1 watch --count 1 > ramp.csv
    for step in 1 2 3 4 5; do
        korvale-cli --port 1 up 1
        korvale-cli --port 1 watch --duration 5 --no-header >> ramp.csv
    done
)";

const char kWatch[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) watch [--format csv|jsonl]
                   [--no-header] [--count N] [--duration S]

Prints one line on standard output for every status frame the supply sends,
written out at once, so a pipe, tee or a killed run loses nothing already
printed. A frame is found by its sync pair 0xEB 0x90 and printed only when
its end is certain (the next sync pair follows, or the line falls quiet), so
frames that lost bytes on the line are skipped, never printed shifted.

Options:
  --format csv    comma-separated, with a header row (the default)
  --format jsonl  one JSON object per line
  --no-header     leave out the CSV header row, to append to a file
  --count N       end after N frames
  --duration S    end after S seconds (fractions allowed)
SIGINT (Ctrl+C) and SIGTERM also end it; each of these ends with status 0.

Fields, in this order (CSV columns and JSON keys):
  time      local time of the frame, ISO 8601 with milliseconds and the
            offset from UTC, such as 2026-03-01T14:05:09.250+01:00
  V A W     the three large displays, text exactly as the panel shows it
  limit_V limit_A limit_W
            the three small displays under LIMITS, likewise
  remote    1 when "remote" is lit, else 0 (JSON: true or false)
  output    on or off
  overtemp  1 when "Overtemp" is lit, else 0 (JSON: true or false)
  blinking  the blinking constant-mode label: U-const, I-const, P-const
            or none
  fine      1 when "fine" is lit, else 0 (JSON: true or false)
The readings are JSON strings, since the displays' leading zeros are part
of what they show.

When nothing arrives for more than 2 seconds (the panel's watchdog time) a
line on standard error says so, and another when the supply is heard again;
with --format jsonl standard output gets an event record as well:
  {"time":"...","event":"link-lost"}
  {"time":"...","event":"link-back"}

Examples:
  korvale-cli --port 1 watch --duration 3600 > readings.csv
  korvale-cli --device /dev/serial/by-id/usb-FTDI-if00-port0 watch \
      --format jsonl | tee readings.jsonl
)";

const char kPress[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) press KEY...

Sends the key frames of the named keys, in the order given, as the panel
does when the keys are pressed. Key names as printed on the panel, case as
printed: U u N I ENT F P CE I/O. "L" and "REM" send nothing on the panel and
are refused here, like any other name; a refused name sends nothing at all.
The port is closed only after the frames have left it.

Examples:
  korvale-cli --port 1 press I/O
  korvale-cli --port 2 press U F
)";

const char kNumbered[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) %1 N

Sends the numbered frame that the panel's %2 arrow sends with N in its number
box. N is read as the box reads it: spaces around it are ignored, a fraction
is rounded to the nearest whole number (a half to the even one), and the
result must be 0 to 255. A refused number sends nothing and ends with
status 2. The port is closed only after the frame has left it.

Examples:
  korvale-cli --port 1 %1 5
  korvale-cli --port 1 %1 2.5      # sends 2
)";

} // namespace

QString helpText(const QString &topic)
{
    if (topic == QLatin1String("watch"))
        return QString::fromUtf8(kWatch);
    if (topic == QLatin1String("press"))
        return QString::fromUtf8(kPress);
    if (topic == QLatin1String("up"))
        return QString::fromUtf8(kNumbered).arg(QStringLiteral("up"), QStringLiteral("right"));
    if (topic == QLatin1String("down"))
        return QString::fromUtf8(kNumbered).arg(QStringLiteral("down"), QStringLiteral("left"));
    return QString::fromUtf8(kTool);
}
