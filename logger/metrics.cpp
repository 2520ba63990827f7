// SPDX-License-Identifier: MIT
#include "logger/metrics.h"

#include "link/supplylink.h"
#include "protocol/statusindicators.h"

#include <array>
#include <cmath>

namespace {

struct Series
{
    const char *name;
    const char *help;
};

// In the order of the frame's readings, in base units.
constexpr std::array<Series, korvale::kReadingCount> kReadings = {{
    {"korvale_output_voltage_volts", "Output voltage the supply reports."},
    {"korvale_output_current_amperes", "Output current the supply reports."},
    {"korvale_output_power_watts", "Output power the supply reports."},
    {"korvale_voltage_limit_volts", "Voltage setting."},
    {"korvale_current_limit_amperes", "Current setting."},
    {"korvale_power_limit_watts", "Power setting."},
}};

struct Indicator
{
    Series series;
    bool korvale::IndicatorStates::*lit;
};
constexpr std::array<Indicator, 4> kIndicators = {{
    {{"korvale_output_on", "1 while the output is switched on."},
     &korvale::IndicatorStates::outputOn},
    {{"korvale_remote", "1 while the supply is under remote control."},
     &korvale::IndicatorStates::remote},
    {{"korvale_overtemperature", "1 while the supply reports overtemperature."},
     &korvale::IndicatorStates::overtemperature},
    {{"korvale_fine", "1 while fine steps are selected."}, &korvale::IndicatorStates::fine},
}};

QByteArray escapedLabel(const QString &value)
{
    QByteArray out;
    for (const char c : value.toUtf8()) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c == '\n' ? QByteArray("\\n") : QByteArray(1, c);
    }
    return out;
}

void describe(QByteArray &out, const Series &series, const char *type)
{
    out += QByteArray("# HELP ") + series.name + ' ' + series.help + "\n# TYPE " + series.name +
           ' ' + type + '\n';
}

void sample(QByteArray &out, const char *name, const QByteArray &labels, const QByteArray &value)
{
    out += QByteArray(name) + '{' + labels + "} " + value + '\n';
}

} // namespace

Metrics::Metrics(SupplyLink &link, const QString &device, int port, QObject *parent)
    : QObject(parent), m_labels("device=\"" + escapedLabel(device) + '"')
{
    if (port != 0)
        m_labels += ",port=\"" + QByteArray::number(port) + '"';
    connect(&link, &SupplyLink::frame, this, &Metrics::frame);
    connect(&link, &SupplyLink::linkLost, this, &Metrics::down);
    connect(&link, &SupplyLink::openFailed, this, &Metrics::down);
    connect(&link, &SupplyLink::deviceLost, this, &Metrics::down);
}

void Metrics::serveOn(QHttpServer &server) const
{
    server.route(QStringLiteral("/metrics"), QHttpServerRequest::Method::Get, [this] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                                   text());
    });
}

quint16 Metrics::listen(const QString &host, quint16 port, QString *why)
{
    m_server = std::make_unique<QHttpServer>();
    serveOn(*m_server);
    if (const quint16 chosen = m_server->listen(QHostAddress(host), port))
        return chosen;
    *why = QStringLiteral("cannot serve metrics on %1 port %2 (in use, or not an address of "
                          "this computer)")
               .arg(host)
               .arg(port);
    return 0;
}

void Metrics::frame(const QDateTime &time, const korvale::StatusReadings &readings)
{
    m_up = true;
    ++m_frames;
    m_last = readings;
    m_lastTime = time;
}

QByteArray Metrics::text() const
{
    QByteArray out;
    describe(out,
             {"korvale_up", "1 while status frames arrive, 0 once the line fell silent or the "
                            "device went away."},
             "gauge");
    sample(out, "korvale_up", m_labels, m_up ? "1" : "0");
    describe(out, {"korvale_frames_total", "Status frames logged since the start."}, "counter");
    sample(out, "korvale_frames_total", m_labels, QByteArray::number(m_frames));
    if (m_last) {
        describe(out,
                 {"korvale_last_frame_timestamp_seconds",
                  "Time of the last status frame logged, in seconds since 1970."},
                 "gauge");
        sample(out, "korvale_last_frame_timestamp_seconds", m_labels,
               QByteArray::number(double(m_lastTime.toMSecsSinceEpoch()) / 1000, 'f', 3));
    }
    if (!m_up || !m_last)
        return out;

    for (int i = 1; i <= korvale::kReadingCount; ++i) {
        const double value = m_last->numbers[std::size_t(i - 1)];
        if (std::isnan(value))
            continue;
        const Series &series = kReadings[std::size_t(i - 1)];
        describe(out, series, "gauge");
        sample(out, series.name, m_labels, QByteArray::number(value, 'g', 10));
    }
    const korvale::IndicatorStates &shown = m_last->indicators;
    for (const Indicator &indicator : kIndicators) {
        describe(out, indicator.series, "gauge");
        sample(out, indicator.series.name, m_labels, shown.*indicator.lit ? "1" : "0");
    }
    describe(out,
             {"korvale_constant_mode",
              "1 for the constant mode whose label blinks (the setting that limits)."},
             "gauge");
    for (const int target : korvale::kConstModeLabels) {
        const std::string_view mode = korvale::blinkingCaption(target);
        sample(out, "korvale_constant_mode",
               m_labels + ",mode=\"" + QByteArray(mode.data(), qsizetype(mode.size())) + '"',
               shown.BlinkTarget == target ? "1" : "0");
    }
    return out;
}
