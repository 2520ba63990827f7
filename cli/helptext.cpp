// SPDX-License-Identifier: MIT
#include "cli/helptext.h"

#include <CLI/CLI.hpp>

#include <map>

namespace {

// The group of the options out of the help; CLI11 has no name for one
// without a group.
const char kUnlisted[] = "unlisted";

const char kTool[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) COMMAND [ARGUMENT...]
  or:  korvale-cli plot [LOG] -o OUT.svg|OUT.png [OPTION...]
  or:  korvale-cli ports [set N DEVICE | clear N] [--format text|json]
  or:  korvale-cli [COMMAND] --help

Reads and drives a Korvale power supply on its serial line, from a shell:
logs what the panel's displays and indicators would show, and sends what
the panel's keys and arrow buttons send.
{lists}

The line runs at 1200 baud, 8 data bits, no parity, 1 stop bit, no flow
control, with DTR raised while the port is open. Only one program can hold
the port at a time: korvale-cli and korvale-panel (or two korvale-cli runs)
cannot use the same port together.

Exit status: 0 done; 1 the port could not be opened, went away (unless
watch --reconnect), or did not take the frames, or the log or the metrics
address could not be used (plot: nothing to draw, or the picture could not
be written); 2 usage error (then nothing was sent).

Examples:
  Log the readings to a CSV file for an hour:
    $ korvale-cli --port 1 watch --duration 3600 > readings.csv

  Log for days through adapter resets, with metrics for Prometheus:
    $ korvale-cli --port 1 watch --reconnect --format jsonl \
    > --metrics 9101 --output readings.jsonl

  Select the voltage setting, then raise it one step at a time, logging
  five seconds after each step:
    $ korvale-cli --port 1 press U
    $ korvale-cli --port 1 watch --count 1 > ramp.csv
    $ for step in 1 2 3 4 5; do
    > korvale-cli --port 1 up 1
    > korvale-cli --port 1 watch --duration 5 --output ramp.csv
    > done

  Draw the hour's log:
    $ korvale-cli plot readings.csv -o readings.svg
)";

const char kWatch[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) watch [OPTION...]

Prints one line on standard output for every status frame the supply sends,
written out at once, so a pipe, tee or a killed run loses nothing already
printed. A frame is found by its sync pair 0xEB 0x90 and printed at its
thirtieth byte when nothing in it shows the next frame's start (else once
the next sync pair follows), so frames that lost bytes on the line are
skipped, never printed shifted, and no pause on the way cuts a frame.
{lists}
SIGINT (Ctrl+C) and SIGTERM also end it, also while --reconnect waits; each
of these ends with status 0.

Fields, in this order (CSV columns and JSON keys):
  time      local time of the frame, ISO 8601 with milliseconds and the
            offset from UTC, such as 2026-03-01T14:05:09.250+01:00
  V A W     the readings in volts, amperes and watts, with the leading
            zeros of the large displays (01.23)
  limit_V limit_A limit_W
            the settings at the resolution the supply sends (12.50 where
            the small display under LIMITS shows 12; older logs carry 12)
  remote    1 when "remote" is lit, else 0 (JSON: true or false)
  output    on or off
  overtemp  1 when "Overtemp" is lit, else 0 (JSON: true or false)
  blinking  the blinking constant-mode label: U-const, I-const, P-const
            or none
  fine      1 when "fine" is lit, else 0 (JSON: true or false)
The readings are JSON strings, since their leading zeros are kept.

When nothing arrives for more than 2 seconds (the panel's watchdog time) a
line on standard error says so, and another when the supply is heard again;
with --format jsonl standard output gets an event record as well:
  {"time":"...","event":"link-lost"}
  {"time":"...","event":"link-back"}

With --reconnect a device that went away (adapter pulled, pseudo-terminal or
network connection closed) is opened again by the same name as soon as it
can be, about once a second. Each loss and each return is a line on
standard error, and with --format jsonl a record with its reason:
  {"time":"...","event":"device-lost","reason":"..."}
  {"time":"...","event":"device-back"}
A reason that stays the same is said once, not at every try. No line is ever
made of bytes from both sides of a gap.

The metrics, each labelled with the device (and the port for --port):
  korvale_up                 1 while frames arrive, 0 once the line is silent
                             or the device is away
  korvale_frames_total       frames printed
  korvale_last_frame_timestamp_seconds
  korvale_output_voltage_volts, korvale_output_current_amperes,
  korvale_output_power_watts, korvale_voltage_limit_volts,
  korvale_current_limit_amperes, korvale_power_limit_watts
  korvale_output_on, korvale_remote, korvale_overtemperature, korvale_fine
                             0 or 1
  korvale_constant_mode{mode="U-const"|"I-const"|"P-const"}
                             1 for the blinking label
The readings and indicators are left out while korvale_up is 0.

Examples:
  $ korvale-cli --port 1 watch --duration 3600 > readings.csv
  $ korvale-cli --device /dev/serial/by-id/usb-FTDI-if00-port0 watch \
  > --format jsonl | tee readings.jsonl
  $ korvale-cli --port 1 watch --reconnect --metrics 0.0.0.0:9101 -o log.csv
)";

const char kServe[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) serve [OPTION...]

Shows the supply's front panel in any web browser: its displays, indicators
and blinking as the window shows them, and its keys and arrows. One process
holds the line and serves every page; the device is opened again about once
a second whenever it is away, for as long as the run lasts.

Once it listens, one line on standard output gives the panel's address:
  panel on http://127.0.0.1:8080/?token=TOKEN
A page opened with that token may press keys; a page without it only
watches, and says so. The token is new at every start (32 hex digits),
unless --token-file gives one.
{lists}
SIGINT (Ctrl+C) and SIGTERM end it with status 0.

On the same port:
  /          the front panel
  /live      the page's live channel (a WebSocket): the panel's state as it
             changes, and the keys pressed. Pages of other sites are refused
             (403); each page may send 8 keys at once, then one per 33 ms;
             a page that stops reading is dropped
  /metrics   what watch --metrics serves, for Prometheus

Device losses and returns and silences of the line are told on standard
error, as watch --reconnect tells them.

With --scpi it also answers SCPI (IEEE 488.2) on raw TCP, as a bench supply
does, and a second line gives the VISA resource:
  scpi on TCPIP::127.0.0.1::5025::SOCKET
Each message is one line ended by a line feed; the answers of a message come
back on one line. Readings and queries are free; a command that would press
a key (OUTP, VOLT, CURR, POW, APPL, SYST:KEY, *RST) needs the page's token
first, once per connection: SYST:PASS:CEN "TOKEN". Every setting is done
the way an operator does it, by the setting's key and the knob, and is done
only when the supply's own frames show it; while the supply is silent a
reading answers 9.91E+37 and queues -230. The commands:
  *IDN? *RST *CLS *ESE *ESE? *ESR? *OPC *OPC? *SRE *SRE? *STB? *TST?
  *WAI *OPT?
  MEASure[:SCALar]:VOLTage|CURRent|POWer[:DC]?      the readings
  [SOURce:]VOLTage|CURRent|POWer[:LEVel][:IMMediate][:AMPLitude] V|MIN|MAX
  [SOURce:]VOLTage|CURRent|POWer...? [MIN|MAX]      the settings
  APPLy V[,I]      OUTPut[:STATe] ON|OFF    OUTPut[:STATe]?
  SYSTem:KEY NAME|CODE   a key of the panel (U u N I ENT F P CE I/O)
  SYSTem:ERRor[:NEXT]?   SYSTem:VERSion?
  SYSTem:PASSword:CENable "TOKEN"   :CDISable "TOKEN"   :STATe?
  STATus:OPERation|QUEStionable[:EVENt]?  :CONDition?  :ENABle[?]
  STATus:PRESet
STATus:OPERation:CONDition? has bit 8 (256) for constant voltage, bit 10
(1024) for constant current and bit 11 (2048) for constant power, by the
blinking constant-mode label; STATus:QUEStionable:CONDition? has bit 4 (16)
for over-temperature. Ranges: 0 to 40 V, 0 to 5 A, 0 to 200 W. Unless
--no-announce is given, the server is announced as _scpi-raw._tcp through
avahi-daemon, where one runs (a server on 127.0.0.1 on the loopback
interface only), so that "lxi discover --mdns" finds it.

Examples:
  $ korvale-cli --port 1 serve
  $ korvale-cli --device socket://supplyhost:3000 serve --http 0.0.0.0:8080 \
  > --token-file /etc/korvale/token --output readings.csv
  $ korvale-cli --port 1 serve --scpi 0.0.0.0:5025
  $ lxi scpi --address 127.0.0.1 --port 5025 --raw "MEAS:VOLT?"
)";

const char kPress[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) press KEY...

Sends the key frames of the named keys, in the order given, as the panel
does when the keys are pressed. Key names as printed on the panel, case as
printed: U u N I ENT F P CE I/O. "L" and "REM" send nothing on the panel and
are refused here, like any other name; a refused name sends nothing at all.
The port is closed only after the frames have left it; a network device
(socket://) only once they can also have crossed ser2net and the serial
line, and status 1 if the connection ended before that.

Examples:
  $ korvale-cli --port 1 press I/O
  $ korvale-cli --port 2 press U F
)";

// up and down alike: %1 the command, %2 the arrow.
const char kNumbered[] = R"(Usage: korvale-cli (--port 1|2 | --device PATH) %1 N

Sends the numbered frame that the panel's %2 arrow sends with N in its number
box. N is read as the box reads it: spaces around it are ignored, a fraction
is rounded to the nearest whole number (a half to the even one), and the
result must be 0 to 255. A refused number sends nothing and ends with
status 2. The port is closed only after the frame has left it, a network
device only once it can also have crossed ser2net and the serial line.

Examples:
  $ korvale-cli --port 1 %1 5
  $ korvale-cli --port 1 %1 2.5      # sends 2
)";

const char kPlot[] = R"(Usage: korvale-cli plot [LOG] -o OUT.svg|OUT.png [OPTION...]

Draws a log written by watch: CSV with or without its header, or JSON lines
(told apart by their first line). Without LOG, or with "-", the log is read
from standard input, so "korvale-cli ... watch --duration 60 | korvale-cli
plot -o run.svg" draws the minute once it is over. Needs no port and no
display. The file OUT is an SVG or a PNG picture, by its extension, written
whole or not at all.

Three panes share one time axis: voltage (V), current (A) and power (W),
each reading as a solid line and its limit (the setting, from the same
lines) as a dashed step line. A limit more than six times the highest
reading is left at the top of its pane, its value written there. Spans with
the output off are shaded grey. Where nothing was known the lines break and
the span is shaded orange, marked above the panes: after a link-lost or
device-lost event (JSON lines), or where two frames lie more than 2 seconds
apart (the panel's watchdog time; CSV carries no events). The title gives
the file name, the first and the last time, and the number of frames.

Each pixel column keeps the lowest and highest value of its time, so a
single frame's spike is drawn at its value, and a week's log is read in one
pass, in the same memory and into a picture of the same size as a day's.
{lists}

Lines that cannot be read (cut short, garbled, of the other format, or
earlier than the line before) are left out; the first five are named on
standard error with their line numbers, then how many there were. A log
with no readable frame is an error (status 1) and writes no picture.

Examples:
  $ korvale-cli plot readings.csv -o readings.svg
  $ korvale-cli plot readings.jsonl -o morning.png --from 08:00 --to 12:00 \
  > --size 1600x900 --title "Burn-in, unit 7"
)";

const char kPorts[] = R"(Usage: korvale-cli ports [--format text|json]
  or:  korvale-cli ports set 1|2 DEVICE
  or:  korvale-cli ports clear 1|2

Lists the serial devices on this computer, each by its stable name
(/dev/serial/by-id/..., else the kernel name) with its kernel name, maker,
product, serial number and the port it is assigned to; then, for comm1 and
comm2, the device each opens and where that came from: environment
(KORVALE_COMM1, KORVALE_COMM2), settings file, or default (/dev/ttyS0,
/dev/ttyS1). Two adapters that report no serial number share one by-id
name; they are then listed by kernel name, with a note.

"ports set" remembers DEVICE for the port in the settings file, where
korvale-panel and korvale-cli --port find it at the next opening; "ports
clear" forgets it. DEVICE is an absolute path or a network device,
socket://HOST:PORT. The file is replaced whole, so the other port's entry
and anything else in it are kept, and a failed write leaves it as it was.

The settings file: $XDG_CONFIG_HOME/korvale/korvale.conf, by default
~/.config/korvale/korvale.conf:
  [ports]
  comm1=/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XQ2-if00-port0
  comm2=socket://supplyhost:3000
A file that cannot be used gives the defaults, with one line on standard
error naming the file and the problem.

Exit status: 0 done; 1 the settings file could not be written; 2 usage
error.

Examples:
  $ korvale-cli ports
  $ korvale-cli ports set 1 /dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3XQ2-if00-port0
  $ korvale-cli ports --format json | jq -r .ports.comm1.device
)";

// The help is ours, with CLI11's two columns of commands and of options
// where it says {lists}.
class HelpLayout : public CLI::Formatter
{
public:
    explicit HelpLayout(std::size_t column) { column_width(column); }

    std::map<std::string, std::string> texts; // by command; the tool's by its own name

    std::string make_help(const CLI::App *app, std::string, CLI::AppFormatMode) const override
    {
        std::string lists = make_subcommands(app, {});
        for (const std::string &group : app->get_groups()) {
            const auto options = app->get_options([&](const CLI::Option *option) {
                return option->get_group() == group && option->nonpositional() &&
                       option != app->get_help_ptr();
            });
            if (group != kUnlisted && !options.empty())
                lists += make_group(group, false, options);
        }
        std::string text = texts.at(app->get_name());
        const std::size_t at = text.find("{lists}\n");
        return at == std::string::npos ? text : text.replace(at, 8, lists);
    }
    std::string make_subcommand(const CLI::App *command) const override
    {
        std::string name = command->get_name();
        for (const CLI::Option *operands : command->get_options())
            if (operands->get_positional() && !operands->get_option_text().empty())
                name += ' ' + operands->get_option_text();
        std::stringstream line;
        CLI::detail::format_help(line, name, command->get_description(), get_column_width());
        return line.str();
    }
    std::string make_option_name(const CLI::Option *option, bool) const override
    {
        std::string names;
        for (const std::string &letter : option->get_snames())
            names += '-' + letter + ", ";
        return names + "--" + option->get_lnames().front();
    }
};

} // namespace

std::unique_ptr<CLI::App> commandLine()
{
    auto tool = std::make_unique<CLI::App>("", "korvale-cli");
    auto layout = std::make_shared<HelpLayout>(18);
    tool->formatter(layout);
    // Every option is read as text and checked by the caller, after --help
    // has had its say; a second one is told by the caller too.
    tool->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    tool->set_help_flag("-h,--help")->group(kUnlisted);
    tool->allow_extras()->require_subcommand(0, 1);
    const auto valued = [](CLI::App *app, const char *name, const char *value, const char *help,
                           const char *group = "Options") {
        return app->add_option(name)->option_text(value)->description(help)->group(group);
    };
    const auto flag = [](CLI::App *app, const char *name, const char *help) {
        return app->add_flag(name)->description(help)->group("Options");
    };
    const auto command = [&](const char *name, const std::string &summary, const char *operands,
                             std::string text) {
        CLI::App *app = tool->add_subcommand(name, summary)->group("Commands")->fallthrough();
        app->add_option("operands")
            ->option_text(operands)
            ->expected(1, -1)
            ->allow_extra_args()
            ->group(kUnlisted);
        layout->texts[name] = std::move(text);
        return app;
    };
    const char *port = "Port (give one of the two)";
    layout->texts["korvale-cli"] = kTool;

    CLI::App *watch =
        command("watch", "print one line per status frame, as CSV or JSON lines", "", kWatch);
    valued(watch, "--format", "csv|jsonl",
           "one line per frame: csv, comma-separated with a header row\n"
           "(the default), or jsonl, one JSON object per line");
    flag(watch, "--no-header", "leave out the CSV header row, to append to a file");
    valued(watch, "--count", "N", "end after N frames");
    valued(watch, "--duration", "S", "end after S seconds (fractions allowed)");
    flag(watch, "--reconnect",
         "when the device goes away or cannot be opened, try the\n"
         "same name again every second instead of ending");
    valued(watch, "--metrics", "[ADDRESS:]PORT",
           "serve http://ADDRESS:PORT/metrics for Prometheus while\n"
           "watching (ADDRESS 127.0.0.1 unless given; 0.0.0.0 for\n"
           "every network); PORT 0 takes a free port and tells it on\n"
           "standard error");
    valued(watch, "-o,--output", "FILE",
           "append the lines to FILE instead of standard output; a\n"
           "file that already holds lines gets no second header");

    CLI::App *serve =
        command("serve", "show the front panel in a web browser, with keys", "", kServe);
    valued(serve, "--http", "[ADDRESS:]PORT",
           "where to serve (default 127.0.0.1:8080; 0.0.0.0 for every\n"
           "network, [::1] for IPv6); PORT 0 takes a free port, which\n"
           "the printed address then names");
    valued(serve, "--token-file", "FILE", "the key token is the first line of FILE");
    valued(serve, "-o,--output", "FILE",
           "append the log to FILE, as watch --output does; without it\n"
           "no log is written");
    valued(serve, "--format", "csv|jsonl", "the log's format, as for watch");
    flag(serve, "--no-header", "the log's header, as for watch (needs --output)");
    valued(serve, "--scpi", "[ADDRESS:]PORT",
           "also answer SCPI on raw TCP there (5025 is usual; ADDRESS\n"
           "127.0.0.1 unless given); PORT 0 takes a free port, which\n"
           "the printed resource then names");
    flag(serve, "--no-announce", "do not announce the SCPI server through Avahi");

    command("press", "press keys, named as printed on the panel:\nU u N I ENT F P CE I/O", "KEY...",
            kPress);
    for (const auto &[name, arrow] : {std::pair{"up", "right"}, std::pair{"down", "left"}})
        command(name,
                QStringLiteral("what the %1 arrow sends with N (0 to 255) in its box")
                    .arg(QLatin1String(arrow))
                    .toStdString(),
                "N", QString::fromUtf8(kNumbered).arg(name, arrow).toStdString());

    CLI::App *plot =
        command("plot", "draw a log of watch as SVG or PNG (needs no port)", "[LOG]", kPlot);
    auto plotLayout = std::make_shared<HelpLayout>(*layout);
    plotLayout->column_width(22);
    plot->formatter(plotLayout);
    valued(plot, "-o,--output", "OUT", "the picture: a name ending in .svg or .png");
    valued(plot, "--title", "TEXT", "the title instead of the file name");
    valued(plot, "--size", "WxH",
           "picture size in pixels (default 1200x800; from\n"
           "400x300 to 10000x10000)");
    valued(plot, "--from", "TIME", "leave out what comes before TIME...");
    valued(plot, "--to", "TIME",
           "...or after it. TIME is a time of day such as 14:05 or\n"
           "14:05:30.250, taken on the day of the log's first line\n"
           "(or the day after, if that is earlier) in its offset\n"
           "from UTC, or a date and time such as 2026-03-01T14:05\n"
           "(local time unless an offset follows)");
    // What reading alone costs, for the benchmarks.
    plot->add_flag("--read-only")->group(kUnlisted);

    command("ports",
            "the serial devices present and where comm1 and comm2 lead;\n"
            "ports set N DEVICE and ports clear N change that",
            "", kPorts);
    command("help", "this text, or the help of one command", "[COMMAND]", "");

    valued(tool.get(), "--port", "1|2",
           "the device of comm1 or comm2, found as korvale-panel finds\n"
           "it: KORVALE_COMM1 or KORVALE_COMM2 if set, else the\n"
           "settings file (see ports --help), else /dev/ttyS0 or\n"
           "/dev/ttyS1",
           port);
    valued(tool.get(), "--device", "PATH",
           "this device, such as a /dev/serial/by-id/... name, or\n"
           "socket://HOST:PORT for a serial line that ser2net hands\n"
           "to the network (the line settings are then ser2net's)",
           port);
    for (const CLI::App *app : tool->get_subcommands({})) {
        for (const CLI::Option *option : app->get_options()) {
            if (option->nonpositional() && option != app->get_help_ptr() &&
                !tool->get_option_no_throw(option->get_name())) {
                const std::string names = option->get_name(false, true);
                (option->get_expected_max() == 0 ? tool->add_flag(names) : tool->add_option(names))
                    ->group(kUnlisted);
            }
        }
    }
    return tool;
}

QString helpText(const QString &topic)
{
    const auto tool = commandLine();
    const CLI::App *app = topic.isEmpty() ? tool.get() : tool->get_subcommand(topic.toStdString());
    return QString::fromStdString(app->help());
}
