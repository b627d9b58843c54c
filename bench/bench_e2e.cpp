// The application end to end, timed the way a person feels it: the murlex program (the shipped
// main over the test transport) against the stand-in, inside the test harness (scripts/bench.sh
// starts it there, with a window manager and a tray, so the main window stays closed). The
// microphone (the pipe source) delivers audio in real time for the whole run, as a real one does;
// a dictation says a 1 s tone into it from the moment the shortcut is pressed. The shortcut is
// pressed through XTest from this process, so no tool's start-up is counted.
//
// Rows:
//   - press -> first binary frame at the stand-in (the floor is one 100 ms chunk of audio), second
//     press -> stop at the stand-in, polish_done sent -> text in the focused field, and the
//     application's own stages between them, read from its debug timing points ("timing: <point>
//     <ns>", CLOCK_MONOTONIC like this process and the stand-in's *_ns);
//   - a soak: MURLEX_BENCH_DICTATIONS dictations (300 by default) in one process, every one
//     answered and pasted; descriptors, threads and resident memory after the first 25 and at the
//     end;
//   - start-up: process start -> global shortcut live, over MURLEX_BENCH_LAUNCHES launches (10);
//   - idle: resident memory and voluntary context switches over MURLEX_BENCH_IDLE_SECONDS (60)
//     with the window closed, and resident memory after opening and closing the window 20 times
//     (and its growth from cycle 10 to 30, past the first-time caches).
// Each figure is one Google Benchmark row (manual time = the median) with counters.
#include "EndToEndRig.h"
#include "Figure.h"
#include "ExternalTool.h"
#include "LiveMicrophone.h"
#include "PipeSource.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

#include <X11/keysym.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>
#include <xcb/xtest.h>

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <climits>
#include <functional>
#include <cstdarg>
#include <cstdio>
#include <csignal>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kToneSeconds = 1.0;
constexpr double kChunkFloorMs = 100.0;
// Dictations left out of the latency figures: the first one opens the connection.
constexpr int kColdDictations = 1;
// The resident set is expected to have settled after this many dictations.
constexpr int kSettleDictations = 25;
// The footprint row is taken after kWindowCycles open/close cycles; the run goes on to
// kWindowCyclesTotal, so growth that continues past the first-time caches shows apart (10 -> 30).
constexpr int kWindowCycles = 20;
constexpr int kWindowCyclesSettled = 10;
constexpr int kWindowCyclesTotal = 30;
// Between two dictations, as a person leaves it: the paste's clipboard restore is done by then.
constexpr int kPauseMs = 250;

int setting(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

using Counters = std::map<std::string, double>;
std::vector<std::pair<std::string, Counters>> rows;

void addLatency(const std::string &name, const std::vector<double> &values, double floor = 0)
{
    const Figure f = summarise(values);
    Counters counters{{"median_ms", f.median}, {"p95_ms", f.p95}, {"p99_ms", f.p99}, {"samples", f.samples}};
    if (floor > 0) {
        counters["floor_ms"] = floor;
        counters["median_per_floor"] = f.median / floor;
        counters["p95_per_floor"] = f.p95 / floor;
    }
    rows.emplace_back(name, counters);
}

// Why the run ended without its table: every way out of the scenario that is not its end says why
// here (and on stderr at once), and main() repeats it last.
std::string failure;

bool fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
bool fail(const char *format, ...)
{
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    failure = text;
    std::fprintf(stderr, "bench_e2e: %s\n", text);
    return false;
}

// The application's last lines, for a failure's report.
void printLastLines(const MurlexProcess &app, qsizetype count = 60)
{
    const QStringList &lines = app.lines();
    for (qsizetype l = std::max<qsizetype>(0, lines.size() - count); l < lines.size(); ++l)
        std::fprintf(stderr, "murlex: %s\n", qUtf8Printable(lines[l]));
}

// SIGTERM to the application and its end, normal and in time; otherwise says how it ended.
bool terminated(MurlexProcess &app, const char *which)
{
    if (app.terminate())
        return true;
    QProcess &process = app.process();
    printLastLines(app);
    if (process.state() != QProcess::NotRunning)
        return fail("%s did not end within 20 s of SIGTERM", which);
    return fail("%s crashed on SIGTERM (exit code %d: %s)", which, process.exitCode(), qPrintable(process.errorString()));
}

// What /proc tells of a process.
struct ProcessSample {
    double rssKiB = 0;
    double cpuSeconds = 0;
    std::map<QString, double> voluntarySwitches; // per thread
    int threads = 0;
    int descriptors = 0;
};

// Resident KiB of each mapping of the process, by start address, permissions and name (/proc/<pid>/smaps).
std::map<QByteArray, double> residentByMapping(qint64 pid)
{
    std::map<QByteArray, double> resident;
    QFile smaps(QStringLiteral("/proc/%1/smaps").arg(pid));
    if (!smaps.open(QIODevice::ReadOnly))
        return resident;
    QByteArray mapping;
    for (const QByteArray &line : smaps.readAll().split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (!fields.first().endsWith(':')) {
            // "start-end perms offset dev inode [name]": keyed by start and name (a heap's end moves).
            const QByteArray start = fields.first().left(fields.first().indexOf('-'));
            mapping = start + ' ' + fields.value(1) + ' ' + (fields.size() > 5 ? fields.mid(5).join(' ') : "[anon]");
        } else if (line.startsWith("Rss:")) {
            resident[mapping] = line.mid(4).trimmed().split(' ').first().toDouble();
        }
    }
    return resident;
}

// The mappings whose resident size changed by 64 KiB or more between two looks, largest first.
void printResidentChanges(const std::map<QByteArray, double> &before, const std::map<QByteArray, double> &after)
{
    std::vector<std::pair<double, QByteArray>> changes;
    for (const auto &[mapping, kib] : after) {
        const auto earlier = before.find(mapping);
        const double change = kib - (earlier == before.end() ? 0 : earlier->second);
        if (std::abs(change) >= 64)
            changes.emplace_back(change, mapping + (earlier == before.end() ? " (new)" : ""));
    }
    for (const auto &[mapping, kib] : before)
        if (kib >= 64 && !after.count(mapping))
            changes.emplace_back(-kib, mapping + " (gone)");
    std::sort(changes.begin(), changes.end(), [](const auto &a, const auto &b) { return std::abs(a.first) > std::abs(b.first); });
    for (const auto &[change, mapping] : changes)
        std::fprintf(stderr, "bench_e2e:   %+7.0f KiB  %s\n", change, mapping.constData());
}

std::optional<ProcessSample> sample(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!status.open(QIODevice::ReadOnly) || !stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    ProcessSample s;
    const auto value = [](const QByteArray &line) { return line.mid(line.indexOf(':') + 1).trimmed().split(' ').first().toDouble(); };
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            s.rssKiB = value(line);
        else if (line.startsWith("Threads:"))
            s.threads = int(value(line));
    }
    // Fields after the command name (which may hold spaces): utime and stime are the 14th and 15th.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    s.cpuSeconds = (fields.at(11).toDouble() + fields.at(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile taskStatus(tasks + u'/' + task + QStringLiteral("/status"));
        if (!taskStatus.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : taskStatus.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                s.voluntarySwitches[task] = value(line);
    }
    s.descriptors = int(QDir(QStringLiteral("/proc/%1/fd").arg(pid)).entryList(QDir::NoDotAndDotDot | QDir::System).size());
    return s;
}

// /proc's account of the application, or a failure saying the process is gone.
std::optional<ProcessSample> sampleOrFail(qint64 pid, const char *when)
{
    auto s = sample(pid);
    if (!s)
        fail("the application (pid %lld) could not be looked at %s: it is no longer running", static_cast<long long>(pid), when);
    return s;
}

// Control+Alt+Space pressed and released on the X server through XTest, as a keyboard would.
class Keyboard {
public:
    Keyboard()
    {
        m_connection = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_connection))
            return;
        xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(m_connection);
        for (const xcb_keysym_t sym : {xcb_keysym_t(XK_Control_L), xcb_keysym_t(XK_Alt_L), xcb_keysym_t(XK_space)}) {
            xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, sym);
            m_codes.push_back(codes ? codes[0] : 0);
            free(codes);
        }
        xcb_key_symbols_free(symbols);
    }
    ~Keyboard() { xcb_disconnect(m_connection); }
    bool usable() const
    {
        return !xcb_connection_has_error(m_connection) && std::count(m_codes.begin(), m_codes.end(), 0) == 0;
    }
    // What a window manager's close button does: WM_DELETE_WINDOW to the window.
    void closeWindow(xcb_window_t window)
    {
        const auto atom = [&](const char *name) {
            xcb_intern_atom_reply_t *reply =
                xcb_intern_atom_reply(m_connection, xcb_intern_atom(m_connection, 0, uint16_t(strlen(name)), name), nullptr);
            const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
            free(reply);
            return value;
        };
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = atom("WM_PROTOCOLS");
        event.data.data32[0] = atom("WM_DELETE_WINDOW");
        event.data.data32[1] = XCB_CURRENT_TIME;
        xcb_send_event(m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_flush(m_connection);
    }
    // CLOCK_MONOTONIC just before the events leave.
    qint64 pressShortcut()
    {
        for (const xcb_keycode_t code : m_codes)
            xcb_test_fake_input(m_connection, XCB_KEY_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        for (auto code = m_codes.rbegin(); code != m_codes.rend(); ++code)
            xcb_test_fake_input(m_connection, XCB_KEY_RELEASE, *code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        const qint64 now = EndToEndRig::monotonicNs();
        xcb_flush(m_connection);
        return now;
    }

private:
    xcb_connection_t *m_connection = nullptr;
    std::vector<xcb_keycode_t> m_codes;
};

// Runs the event loop until `done` holds, looking every millisecond; false on the timeout.
bool waitUntil(const std::function<bool()> &done, int timeoutMs = 20000)
{
    QEventLoop loop;
    QTimer poll;
    poll.setTimerType(Qt::PreciseTimer);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    if (done())
        return true;
    poll.start(1);
    loop.exec();
    return done();
}

// The application's timing points, in the order logged.
struct Point {
    QString name;
    qint64 ns = 0;
};

std::vector<Point> timingPoints(const QStringList &lines)
{
    static const QRegularExpression pattern(QStringLiteral("timing: (\\w+) (\\d+)"));
    std::vector<Point> points;
    for (const QString &line : lines)
        if (const auto match = pattern.match(line); match.hasMatch())
            points.push_back({match.captured(1), match.captured(2).toLongLong()});
    return points;
}

// The first point named `name` at or after `from` and before `until`; 0 when none.
qint64 firstPoint(const std::vector<Point> &points, const QString &name, qint64 from, qint64 until)
{
    for (const Point &p : points)
        if (p.name == name && p.ns >= from && p.ns < until)
            return p.ns;
    return 0;
}

struct Run {
    qint64 firstPressNs = 0;
    qint64 secondPressNs = 0;
    qint64 textSeenNs = 0;
};

// The application's visible main window, if any.
QString mainWindow(qint64 pid)
{
    const auto found = ExternalTool::run(QStringLiteral("xdotool"),
                                         {QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                          QString::number(pid), QStringLiteral("--name"), QStringLiteral("^Murlex$")});
    return found ? QString::fromUtf8(*found).trimmed().section(u'\n', 0, 0) : QString();
}

bool closeMainWindow(Keyboard &display, qint64 pid)
{
    const QString window = mainWindow(pid);
    if (window.isEmpty())
        return true;
    display.closeWindow(xcb_window_t(window.toULong()));
    return waitUntil([&] { return mainWindow(pid).isEmpty(); }, 10000);
}

bool measureStartUp(EndToEndRig &rig, int launches)
{
    std::vector<double> toLive;
    for (int i = 0; i < launches; ++i) {
        const qint64 started = EndToEndRig::monotonicNs();
        MurlexProcess app({}, rig.appEnvironment());
        if (!app.waitForCount(QStringLiteral("timing: shortcut_live"), 1)) {
            printLastLines(app);
            return fail("launch %d did not bring its shortcut up", i + 1);
        }
        const auto points = timingPoints(app.lines());
        toLive.push_back(double(firstPoint(points, QStringLiteral("shortcut_live"), started, LLONG_MAX) - started) / 1e6);
        const std::string which = "launch " + std::to_string(i + 1);
        if (!terminated(app, which.c_str()))
            return false;
    }
    addLatency("startup/process_start_to_shortcut_live", toLive);
    return true;
}

bool measureIdle(EndToEndRig &rig, int seconds)
{
    const qint64 pid = rig.app().pid();
    Keyboard display;
    // A first launch shows the first-run guide; idle means the window closed.
    if (!closeMainWindow(display, pid))
        return fail("the main window did not close");
    QTest::qWait(2000); // let the start-up settle
    const auto before = sampleOrFail(pid, "before the idle minute");
    if (!before)
        return false;
    QTest::qWait(seconds * 1000);
    const auto after = sampleOrFail(pid, "after the idle minute");
    if (!after)
        return false;
    // Each time a thread wakes, it has blocked once more: the threads' voluntary switches, counted
    // over the threads that lived through the whole minute.
    double wakeups = 0;
    for (const auto &[task, switches] : after->voluntarySwitches)
        if (const auto then = before->voluntarySwitches.find(task); then != before->voluntarySwitches.end())
            wakeups += switches - then->second;
    rows.emplace_back("idle/after_start_window_closed",
                      Counters{{"rss_MiB", after->rssKiB / 1024.0},
                               {"cpu_s_total", after->cpuSeconds},
                               {"cpu_pct_idle", 100.0 * (after->cpuSeconds - before->cpuSeconds) / seconds},
                               {"wakeups_per_min", wakeups * 60.0 / seconds}});
    return true;
}

// Opens the main window through a second launch (what the application menu does) and closes it
// through the window manager, kWindowCyclesTotal times.
bool measureWindowCycles(EndToEndRig &rig)
{
    const qint64 pid = rig.app().pid();
    Keyboard display;
    const auto before = sample(pid);
    std::map<int, double> rssAfter; // cycles done -> KiB
    QStringList trail;
    for (int i = 0; i < kWindowCyclesTotal; ++i) {
        const auto again = MurlexProcess::runToEnd({}, rig.appEnvironment());
        if (!again)
            return fail("the second launch of window cycle %d did not end", i + 1);
        if (!waitUntil([&] { return !mainWindow(pid).isEmpty(); }, 10000))
            return fail("the main window did not open in cycle %d", i + 1);
        QTest::qWait(200);
        if (!closeMainWindow(display, pid))
            return fail("the main window did not close in cycle %d", i + 1);
        QTest::qWait(200);
        const int done = i + 1;
        if (done == kWindowCyclesSettled || done == kWindowCycles || done == kWindowCyclesTotal) {
            QTest::qWait(1000);
            const auto now = sampleOrFail(pid, "after a window cycle");
            if (!now)
                return false;
            rssAfter[done] = now->rssKiB;
        }
        if (const auto now = sample(pid))
            trail << QString::number(now->rssKiB, 'f', 0);
    }
    if (!before)
        return fail("the application could not be looked at before the window cycles");
    std::fprintf(stderr, "bench_e2e: RSS after each window cycle (KiB, from %.0f): %s\n", before->rssKiB,
                 qPrintable(trail.join(u' ')));
    rows.emplace_back("idle/after_20_window_open_close",
                      Counters{{"rss_MiB", rssAfter[kWindowCycles] / 1024.0}, {"rss_growth_KiB", rssAfter[kWindowCycles] - before->rssKiB}});
    rows.emplace_back("idle/window_open_close_10_to_30",
                      Counters{{"rss_MiB", rssAfter[kWindowCyclesTotal] / 1024.0},
                               {"rss_growth_KiB", rssAfter[kWindowCyclesTotal] - rssAfter[kWindowCyclesSettled]}});
    return true;
}

bool runDictations(EndToEndRig &rig, int dictations)
{
    Keyboard keyboard;
    if (!keyboard.usable())
        return fail("no XTest keyboard");
    LiveMicrophone microphone;
    if (!microphone.start())
        return fail("cannot open the pipe source");
    const qint64 pid = rig.app().pid();
    const QByteArray tone = PipeSource::tone(440.0, kToneSeconds);
    std::vector<Run> runs;
    std::optional<ProcessSample> settled;
    std::vector<double> rssTrail; // every kSettleDictations
    std::map<QByteArray, double> mappings = residentByMapping(pid);
    for (int i = 0; i < dictations; ++i) {
        if (!rig.focusField())
            return fail("dictation %d: the text field did not get the focus", i + 1);
        if (const QString broken = microphone.failure(); !broken.isEmpty())
            return fail("dictation %d: the microphone stopped: %s", i + 1, qPrintable(broken));
        const int changes = rig.fieldChanges();
        const QString before = rig.fieldText();
        const int captures = rig.app().count(QStringLiteral("capture started"));
        const int injections = rig.app().count(QStringLiteral("injected "));
        Run run;
        microphone.speak(tone);
        run.firstPressNs = keyboard.pressShortcut();
        waitUntil([&] { return !microphone.isSpeaking(); });
        if (rig.app().count(QStringLiteral("capture started")) <= captures) {
            printLastLines(rig.app());
            return fail("dictation %d: the capture did not start", i + 1);
        }
        run.secondPressNs = keyboard.pressShortcut();
        const QMetaObject::Connection watch =
            QObject::connect(&rig.target().process(), &QProcess::readyReadStandardOutput, &rig.target().process(), [&] {
            if (!run.textSeenNs && rig.fieldChanges() > changes)
                run.textSeenNs = EndToEndRig::monotonicNs();
        });
        const bool changed = waitUntil([&] { return rig.fieldChanges() > changes; });
        QObject::disconnect(watch);
        if (!changed || !rig.app().waitForCount(QStringLiteral("injected "), injections + 1)) {
            printLastLines(rig.app());
            return fail("dictation %d was not pasted", i + 1);
        }
        if (!run.textSeenNs)
            run.textSeenNs = EndToEndRig::monotonicNs();
        if (rig.fieldText().size() <= before.size() || !rig.fieldText().startsWith(before))
            return fail("dictation %d: the field lost its text or gained none", i + 1);
        runs.push_back(run);
        QTest::qWait(kPauseMs);
        if ((i + 1) % kSettleDictations == 0) {
            const auto s = sampleOrFail(pid, "during the soak");
            if (!s)
                return false;
            rssTrail.push_back(s->rssKiB);
            if (i + 1 == kSettleDictations)
                settled = s;
            std::fprintf(stderr, "bench_e2e: %d dictations, RSS %.0f KiB, %d threads, %d descriptors\n", i + 1,
                         s->rssKiB, s->threads, s->descriptors);
            std::map<QByteArray, double> now = residentByMapping(pid);
            printResidentChanges(mappings, now);
            mappings = std::move(now);
        }
    }
    QTest::qWait(300);
    const auto end = sampleOrFail(pid, "after the soak");
    if (!end) {
        printLastLines(rig.app());
        return false;
    }
    if (microphone.late() > 0)
        std::fprintf(stderr, "bench_e2e: %d microphone slices were late (the source did not drain)\n", microphone.late());

    // The stand-in's record of the same dictations, in order, over every connection.
    std::vector<QJsonObject> recorded;
    for (const auto &connection : rig.server().socketRecording())
        for (const auto &dictation : connection.toObject().value(QStringLiteral("dictations")).toArray())
            recorded.push_back(dictation.toObject());
    if (recorded.size() < runs.size())
        return fail("the stand-in recorded %zu dictations, not %zu", recorded.size(), runs.size());
    recorded.erase(recorded.begin(), recorded.end() - qsizetype(runs.size()));

    const std::vector<Point> points = timingPoints(rig.app().lines());
    std::map<std::string, std::vector<double>> stages;
    const auto ms = [](qint64 from, qint64 to) { return double(to - from) / 1e6; };
    for (size_t i = kColdDictations; i < runs.size(); ++i) {
        const Run &r = runs[i];
        const qint64 until = i + 1 < runs.size() ? runs[i + 1].firstPressNs : LLONG_MAX;
        const auto at = [&](const char *name, qint64 from) { return firstPoint(points, QLatin1String(name), from, until); };
        const auto ns = [&](const char *key) { return qint64(recorded[i].value(QLatin1String(key)).toInteger()); };
        // On the way out.
        const qint64 event = at("shortcut_event", r.firstPressNs);
        const qint64 toggle = at("toggle", r.firstPressNs);
        const qint64 token = at("token_ready", r.firstPressNs);
        const qint64 requested = at("capture_requested", r.firstPressNs);
        const qint64 ready = at("stream_ready", r.firstPressNs);
        const qint64 samples = at("first_samples", r.firstPressNs);
        const qint64 sent = at("first_frame_sent", r.firstPressNs);
        const qint64 received = ns("first_frame_ns");
        const qint64 stopSent = at("control_sent", r.secondPressNs);
        // And back.
        const qint64 polishSent = ns("polish_done_ns");
        const qint64 polishReceived = at("polish_done_received", r.secondPressNs);
        const qint64 clipboardSet = at("clipboard_set", r.secondPressNs);
        const qint64 chord = at("paste_chord_posted", r.secondPressNs);
        const qint64 restored = at("clipboard_restored", r.secondPressNs);
        if (!event || !toggle || !token || !requested || !ready || !samples || !sent || !stopSent || !polishReceived
            || !clipboardSet || !chord)
            return fail("dictation %zu lacks timing points (debug lines off?)", i + 1);
        stages["e2e/press_to_first_frame_received"].push_back(ms(r.firstPressNs, received));
        stages["e2e/second_press_to_stop_received"].push_back(ms(r.secondPressNs, ns("stop_ns")));
        stages["e2e/polish_done_sent_to_text_in_field"].push_back(ms(polishSent, r.textSeenNs));
        stages["out/1_press_to_shortcut_event"].push_back(ms(r.firstPressNs, event));
        stages["out/2_shortcut_event_to_toggle"].push_back(ms(event, toggle));
        stages["out/3_toggle_to_token_ready"].push_back(ms(toggle, token));
        stages["out/4_token_ready_to_capture_requested"].push_back(ms(token, requested));
        stages["out/5_capture_requested_to_stream_ready"].push_back(ms(requested, ready));
        stages["out/6_stream_ready_to_first_samples"].push_back(ms(ready, samples));
        stages["out/7_first_samples_to_first_frame_sent"].push_back(ms(samples, sent));
        stages["out/8_first_frame_sent_to_received"].push_back(ms(sent, received));
        stages["out/9_second_press_to_stop_sent"].push_back(ms(r.secondPressNs, stopSent));
        stages["back/1_polish_done_sent_to_received"].push_back(ms(polishSent, polishReceived));
        stages["back/2_polish_done_received_to_clipboard_set"].push_back(ms(polishReceived, clipboardSet));
        stages["back/3_clipboard_set_to_paste_chord_posted"].push_back(ms(clipboardSet, chord));
        stages["back/4_polish_done_received_to_paste_chord_posted"].push_back(ms(polishReceived, chord));
        stages["back/5_paste_chord_posted_to_text_in_field"].push_back(ms(chord, r.textSeenNs));
        if (restored)
            stages["back/6_paste_chord_posted_to_clipboard_restored"].push_back(ms(chord, restored));
    }
    for (const auto &[name, values] : stages)
        addLatency(name, values, name == "e2e/press_to_first_frame_received" ? kChunkFloorMs : 0);

    Counters soak{{"dictations", double(runs.size())},
                  {"rss_MiB", end->rssKiB / 1024.0},
                  {"cpu_s_total", end->cpuSeconds},
                  {"threads", double(end->threads)},
                  {"fds", double(end->descriptors)}};
    if (settled && runs.size() > size_t(kSettleDictations)) {
        soak["rss_KiB_per_100_after_25"] =
            (end->rssKiB - settled->rssKiB) * 100.0 / double(runs.size() - size_t(kSettleDictations));
        soak["thread_growth_after_25"] = double(end->threads - settled->threads);
        soak["fd_growth_after_25"] = double(end->descriptors - settled->descriptors);
    }
    rows.emplace_back("soak/dictations_in_one_process", soak);
    QStringList trail;
    for (const double kib : rssTrail)
        trail << QString::number(kib, 'f', 0);
    std::fprintf(stderr, "bench_e2e: RSS every %d dictations (KiB): %s\n", kSettleDictations, qPrintable(trail.join(u' ')));
    return true;
}

bool runScenario(EndToEndRig &rig)
{
    if (!rig.start({QStringLiteral("Murlex")}))
        return fail("%s", qPrintable(rig.failure()));
    if (!measureIdle(rig, setting("MURLEX_BENCH_IDLE_SECONDS", 60)) || !measureWindowCycles(rig)
        || !runDictations(rig, setting("MURLEX_BENCH_DICTATIONS", 300)))
        return false;
    // The launches need the shortcut free: one instance at a time.
    if (!terminated(rig.app(), "the application after the soak"))
        return false;
    return measureStartUp(rig, setting("MURLEX_BENCH_LAUNCHES", 10));
}

// A signal that ends this process says so before it does, whatever its output is read by; a write
// to a pipe whose reader has gone (SIGPIPE, silent by default) fails instead, and is reported.
void onSignal(int number)
{
    static volatile sig_atomic_t said = 0;
    if (!said) {
        said = 1;
        // Only async-signal-safe calls here: fixed texts and write().
        const char *text = number == SIGPIPE  ? "bench_e2e: SIGPIPE: a pipe or socket lost its reader\n"
                           : number == SIGHUP ? "bench_e2e: ended by SIGHUP (the terminal went away), no table\n"
                           : number == SIGINT ? "bench_e2e: ended by SIGINT, no table\n"
                                              : "bench_e2e: ended by SIGTERM, no table\n";
        [[maybe_unused]] const auto written = ::write(STDERR_FILENO, text, std::strlen(text));
    }
    if (number != SIGPIPE) {
        std::signal(number, SIG_DFL);
        std::raise(number);
    }
}

void reportSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : {SIGHUP, SIGINT, SIGTERM, SIGPIPE})
        ::sigaction(number, &action, nullptr);
}

} // namespace

int main(int argc, char **argv)
{
    reportSignals();
    // Google Benchmark's own flags first; what is left goes to Qt.
    benchmark::Initialize(&argc, argv);
    QApplication app(argc, argv);
    // The rig (the application, the field, the stand-in) is taken down after the table is out.
    auto rig = std::make_unique<EndToEndRig>();
    if (!runScenario(*rig)) {
        std::fprintf(stderr, "bench_e2e: no table: %s\n", failure.empty() ? "the run failed" : failure.c_str());
        return 1;
    }
    for (const auto &[name, counters] : rows)
        benchmark::RegisterBenchmark(name.c_str(), [counters = counters](benchmark::State &state) {
            const auto median = counters.find("median_ms");
            for (auto _ : state)
                state.SetIterationTime(median == counters.end() ? 0 : median->second / 1000.0);
            for (const auto &[key, value] : counters)
                state.counters[key] = value;
        })->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::fflush(stdout);
    if (std::ferror(stdout)) {
        std::fprintf(stderr, "bench_e2e: the table could not be written to the standard output\n");
        return 1;
    }
    rig.reset();
    return 0;
}
