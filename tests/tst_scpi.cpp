// SPDX-License-Identifier: MIT
// The SCPI language end to end through one session on a supply played by the
// test: what a client sends (in pieces, with the supply's frames and the
// jobs' ends between), what it reads back, the errors left in its queue and
// the jobs it started.
#include "protocol/statusframe.h"
#include "scpi/commands.h"
#include "scpi/session.h"

#include <QtTest>

#include <deque>

using namespace korvale;
using namespace korvale::scpi;

namespace {

class FakeSupply final : public Instrument
{
public:
    std::optional<StatusReadings> frame;
    QStringList started;
    std::deque<std::pair<JobId, Done>> running;

    const StatusReadings *latest() const override { return frame ? &*frame : nullptr; }
    JobId start(const Job &job, Done done) override
    {
        static const char kinds[] = {'K', 'O', 'S'};
        static const char settings[] = {'V', 'I', 'P'};
        const double arg = job.kind == Job::Kind::Key ? job.command : job.on;
        started << (job.kind == Job::Kind::Set
                        ? settings[int(job.setting)] + QString::number(job.value)
                        : kinds[int(job.kind)] + QString::number(arg));
        running.emplace_back(++m_last, std::move(done));
        return m_last;
    }
    void cancel(JobId job) override
    {
        std::erase_if(running, [job](const auto &r) { return r.first == job; });
    }
    void finish(const Error &error)
    {
        const Done done = std::move(running.front().second);
        running.pop_front();
        done(error);
    }

private:
    JobId m_last = 0;
};

// 12.50 V 1.000 A 12.5 W out, set 12.50 V 1.000 A 100.0 W; "--" silent,
// "nan" a power that is no number, else the status byte in hex.
std::optional<StatusReadings> frameOf(const QString &shown)
{
    if (shown == "--")
        return std::nullopt;
    StatusFrame f =
        encodeStatusFrame({1250, 1000, 125, 1250, 1000, 1000,
                           std::uint8_t(shown == "nan" ? 0x70 : shown.toUInt(nullptr, 16))});
    if (shown == "nan")
        f[6] = 0xAA;
    return decodeStatusBlock(f);
}

std::string times(int n, const std::string &s)
{
    std::string out;
    while (n-- > 0)
        out += s;
    return out;
}

struct Row
{
    const char *what;
    // Steps split at '|': bytes sent, or '#' the oldest job done, '!' it
    // failed, '&' every job done, {HH} a frame with status byte HH.
    std::string input;
    // What the client reads, with '#', '!', '&' where the jobs ended and
    // [closed] where the session refused more input.
    std::string output;
    const char *errors; // codes left in the queue
    const char *jobs;
};

const std::vector<Row> &rows()
{
    static const std::vector<Row> list = {
        {"common commands", "*IDN?;*OPT?;*TST?;SYST:VERS?;*OPC?;*WAI\r\n",
         "Korvale,TEST,0,1.0;0;0;1999.0;1\n", "", ""},
        {"short, long and optional forms; ';' stays on a level, ':' goes to the root",
         "MEAS:VOLT?;CURR?;POW?;:measure:scalar:voltage:dc?;:SOUR:VOLT:LEV:IMM:AMPL?;:SOUR:"
         "CURR?;POW?;:OUTP?;OUTPUT:STATE?\n",
         "12.50;1.000;12.5;12.50;12.50;1.000;100.0;0;0\n", "", ""},
        {"limits, a query's parameters, wrong headers",
         "VOLT? MAX;CURR? MIN;POW? maximum;VOLT? DEF\n|MEAS:VOLT?;VOLT? MAX;:VOLT? MAX\n|"
         "MEAS:VOLTS?\n|MEASU:VOLT?\n|VOLT? 5\n|SOUR:VOLT?;CURR?\n",
         "40.00;0.000;200.0;0.00\n12.50;40.00\n12.50;1.000\n", "-108 -113 -113 -224", ""},
        {"syntax errors lose the rest of their message",
         "*IDN?;*OPT?X;*TST?\n|*IDN\n|ABCDEFGHIJKLM?\n|*ESE 1,\n|VOLT? \"a\n|*ESE 1e999\n|"
         "*OPC?;;*OPC?\n",
         "Korvale,TEST,0,1.0\n1;1\n", "-102 -113 -112 -102 -102 -123", ""},
        {"parameters refused",
         "*ESE\n|*ESE 1,2\n|*ESE 256\n|*ESE 5V\n|*ESE \"a\"\n|*ESE -1\n|SYST:PASS "
         "\"x\";PASS \"\";PASS:STAT?\n",
         "0\n", "-109 -108 -222 -138 -104 -222 -224 -224", ""},
        {"control without the token",
         "VOLT 5;CURR 1;POW 1;APPL 1;OUTP ON;SYST:KEY ENT;*RST;:VOLT?\n", "12.50\n",
         "-203 -203 -203 -203 -203 -203 -203", ""},
        {"numbers and suffixes",
         "SYST:PASS t;:VOLT 12.5;VOLT 1250e-2 ;VOLT 500 mV;CURR 250MA;CURR .5;POW 1.5E+2 W\n|&|"
         "VOLT MAX;CURR MIN;POW DEF;VOLT 12.346;CURR 0.0004;VOLT +4E1\n|&|VOLT 1A;VOLT "
         "40.01;CURR -1;POW 1 V;VOLT MAYBE;OUTP MAYBE;VOLT 1e999;VOLT 1\n",
         "&&", "-131 -222 -222 -131 -224 -224 -123",
         "V12.5 V12.5 V0.5 I0.25 I0.5 P150 V40 I0 P0 V12.35 I0 V40"},
        {"booleans and keys",
         "SYST:PASS t;:OUTP ON;OUTP OFF;OUTP 1;OUTP 0;OUTP 0.2;OUTPut:STATe on\n|&|SYST:KEY "
         "ENT;KEY \"I/O\";KEY io;KEY u;KEY U;KEY 12;:SYST:KEY 0\n|&|"
         "SYST:KEY L;KEY REM;KEY 3;KEY X;KEY 12 V;:OUTP \"ON\"\n",
         "&&", "-224 -224 -224 -224 -138 -104", "O1 O0 O1 O0 O0 O1 K5 K10 K10 K4 K1 K10 K1"},
        {"a job holds back what follows it",
         "SYSTEM:PASSWORD:CENABLE \"t\";:OUTP ON;*OPC?\n|*IDN?\n|#|*RST;*OPC;*ESR?\n|#",
         "#1\nKorvale,TEST,0,1.0\n#1\n", "", "O1 O0"},
        {"a job that fails",
         "SYST:PASS t;:APPL 12,1.5;*OPC?;:SYST:ERR?\n|!|APPL 5,0.5\n|#|#|APPL 50,1\n",
         "!1;-200,\"Execution error;the voltage setting did not follow\"\n##", "-222",
         "V12 V5 I0.5"},
        {"the token",
         "SYST:PASS:STAT?;:SYST:PASS t;PASS:STAT?;:OUTP ON\n|#|SYST:PASS:CDIS x;STAT?;CDIS "
         "t;STAT?;:OUTP OFF\n",
         "#0;1\n1;0\n", "-224 -203", "O1"},
        {"silence and a reading that is no number",
         "{--}|MEAS:VOLT?;*TST?;:OUTP?;:STAT:OPER:COND?;:VOLT?\n|{nan}|MEAS:POW?;:MEAS:CURR?\n",
         "9.91E+37;1;9.91E+37;9.91E+37;9.91E+37\n9.91E+37;1.000\n", "-230 -230 -230 -230 -230", ""},
        {"event status and the status byte",
         "*ESE 60;*SRE 32\n|FOO\n|*STB?;*ESR?;*ESR?;*STB?;*SRE?;*ESE?\n|*SRE 255;*SRE?\n",
         "100;32;0;4;32;60\n191\n", "-113", ""},
        {"operation and questionable groups latch rising edges",
         "{34}|{54}|{70}|STAT:OPER:COND?;:STAT:OPER?;:STAT:OPER?\n|STAT:OPER:ENAB 1024;*SRE 128\n|"
         "{54}|*STB?;STAT:OPER:ENAB?;:STAT:PRES;:STAT:OPER:ENAB?;*STB?;COND?;:STAT:OPER?;:STAT:"
         "OPER?\n|{64}|{78}|"
         "STAT:OPER:EVEN?;:STAT:QUES:COND?;:STAT:QUES:ENAB "
         "16;*STB?;:STAT:QUES?;*STB?;:STAT:QUES:ENAB?\n",
         "0;1280;0\n192;1024;0;0;1024;1024;0\n2048;16;8;16;0;16\n", "", ""},
        {"*CLS", "FOO\n|{34}|*OPC\n|*CLS;*ESR?;STAT:OPER?;:SYST:ERR?\n", "0;0;0,\"No error\"\n", "",
         ""},
        {"overflow", "*ESE 256;" + times(16, "X;") + "*ESR?\n", "56\n",
         "-222 -113 -113 -113 -113 -113 -113 -113 -113 -113 -113 -113 -113 -113 -113 -350", ""},
        {"in pieces and several at once", "ME|AS:VO|LT?\n*OP|C?\n\n\r\n*OPT?\n", "12.50\n1\n0\n",
         "", ""},
        {"a line's bound", "*OPC?" + std::string(195, ' ') + "\n|" + std::string(201, 'x'),
         "1\n[closed]", "", ""},
        {"what waits behind a job is bounded",
         "SYST:PASS t;:OUTP ON\n|" + times(66, "*OPC?\n") + "|#|OUTP OFF\n|" + times(67, "*OPC?\n"),
         "#" + times(66, "1\n") + "[closed]", "", "O1 O0"},
    };
    return list;
}

} // namespace

class TestScpi : public QObject
{
    Q_OBJECT
private slots:
    void session();
    void everyCommandInTheTable();
};

void TestScpi::session()
{
    for (const Row &row : rows()) {
        FakeSupply supply;
        supply.frame = frameOf("70");
        std::string transcript;
        QStringList errors;
        {
            Session session(supply, {"Korvale,TEST,0,1.0", "t", 200, 400});
            session.outputReady = [&] { transcript += session.takeOutput(); };
            bool open = true;
            for (const QString &step : QString::fromStdString(row.input).split('|')) {
                if (step.startsWith('{')) {
                    supply.frame = frameOf(step.mid(1, step.size() - 2));
                    session.supplyChanged();
                } else if (step == "#" || step == "!" || step == "&") {
                    QVERIFY2(session.busy(), row.what);
                    transcript += step.toStdString();
                    do {
                        supply.finish(step == "!"
                                          ? Error{-200, "the voltage setting did not follow"}
                                          : Error{});
                    } while (step == "&" && session.busy());
                } else if (!session.receive(step.toStdString())) {
                    transcript += "[closed]";
                    open = false;
                    break;
                } else {
                    transcript += session.takeOutput();
                }
            }
            if (session.outputSize() > 0)
                transcript += "[late]" + session.takeOutput();
            for (int i = 0; open && i < 20; ++i) {
                QVERIFY2(session.receive("SYST:ERR?\n"), row.what);
                const QString error = QString::fromStdString(session.takeOutput());
                if (error.startsWith("0,"))
                    break;
                errors << error.section(',', 0, 0);
            }
        }
        // Gone with the session, the job it waited for is cancelled.
        QVERIFY2(supply.running.empty(), row.what);
        const QString at = QString(row.what) + ": ";
        QCOMPARE(at + QString::fromStdString(transcript), at + QString::fromStdString(row.output));
        QCOMPARE(at + errors.join(' '), at + row.errors);
        QCOMPARE(at + supply.started.join(' '), at + row.jobs);
    }
}

// A command added to the table without a row to prove it fails here: each
// is used in its shortest form somewhere above.
void TestScpi::everyCommandInTheTable()
{
    QString all;
    for (const Row &row : rows())
        all += QString::fromStdString(row.input).toUpper().remove('|') + '\n';
    for (const Command &command : commands()) {
        const HeaderPattern pattern(command.header);
        const QString shortest = QString::fromStdString(pattern.shortest());
        const QRegularExpression use(QRegularExpression::escape(shortest) +
                                     (pattern.query() ? "" : "[ ;\r\n]"));
        QVERIFY2(all.contains(use), command.header);
    }
}

QTEST_GUILESS_MAIN(TestScpi)
#include "tst_scpi.moc"
