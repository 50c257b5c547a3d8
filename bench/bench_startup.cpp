// Prints how long the program takes from its launch until its window is on screen, against a
// bare Qt window of the same size, and what the window costs while it sits idle in each step.
// Figures only: nothing here passes or fails on timing.
//
// Everything runs on a private X server (Xvfb) that this benchmark starts and stops: no window
// manager or compositor adds its own delay to one launch and not the other, and no window pops
// up on the user's desktop. The program is launched exactly as a user launches it, with no
// argument; the benchmark watches the X server instead. A window counts as mapped when the
// server reports it mapped, and as painted when its pixels first differ from the black root
// behind it: Qt gives its windows no background of their own, so nothing but the program's
// first frame turns them from black.

#include "gui/frm.h"
#include "gui/frmtexts.h"
#include "harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <optional>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

/// The arguments that make this binary a bare window to compare the program with:
/// "--bare-window WIDTHxHEIGHT", and "--with-text" after them for one line of Chinese.
constexpr char bareWindowArgument[] = "--bare-window";
constexpr char withTextArgument[] = "--with-text";
constexpr int launchRuns = 10;
/// A launch whose window is not painted by then counts as failed rather than hanging the run.
constexpr qint64 launchTimeoutMs = 30'000;
constexpr int idleMs = 5'000;
/// Startup work, the end of a cut and the last buffers of a piece are over by then.
constexpr int settleMs = 1'000;
constexpr double launchAim = 1.5;
constexpr double idleCpuAimPercent = 0.5;

/// A plain QWidget of the given size and nothing else: the least a Qt program can show. With
/// \a withText it also shows one label in Chinese, the least a window with the program's texts
/// can show: loading the fonts and drawing the first Chinese glyphs is a cost of its own.
/// This binary links much more than Qt Widgets, yet launched no slower than a program linking
/// Qt Widgets alone when the two were timed against each other, so it stands in for one.
int runBareWindow(int argc, char **argv, const QSize &size, bool withText)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(size);
    window.setWindowTitle(QStringLiteral("bare"));
    if (withText)
        new QLabel(FrmText::title, &window);
    window.show();
    return app.exec();
}

/// CPU seconds a process has used, all its threads and user and system time together, to the
/// nanosecond (the ticks of /proc/PID/stat are too coarse for an idle process); -1 when the
/// process is gone.
double cpuSecondsOf(pid_t pid)
{
    clockid_t clock = 0;
    timespec used{};
    if (clock_getcpuclockid(pid, &clock) != 0 || clock_gettime(clock, &used) != 0)
        return -1;
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

/// Times the threads of a process went to sleep, summed over the threads alive now; -1 when the
/// process is gone. Each one is a later wake, so the count tells how often an idle process stirs.
double wakeupsOf(pid_t pid)
{
    QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    const QStringList threads = tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (threads.isEmpty())
        return -1;
    double wakeups = 0;
    for (const QString &thread : threads) {
        QFile status(tasks.filePath(thread + QStringLiteral("/status")));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() >= 2 && fields[0] == "voluntary_ctxt_switches:")
                wakeups += fields[1].toDouble();
        }
    }
    return wakeups;
}

/// The resident size of a process in MiB, from /proc/PID/status; -1 when it is gone.
double residentMiBOf(pid_t pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    // A file of /proc tells no size, so it is read whole rather than line by line to its end.
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() >= 2 && fields[0] == "VmRSS:")
            return double(fields[1].toLongLong()) / 1024.0;
    }
    return -1;
}

/// An X server of this run's own, on the first free display, stopped when this goes.
class XServer
{
public:
    XServer() = default;
    XServer(const XServer &) = delete;
    XServer &operator=(const XServer &) = delete;
    ~XServer()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }

    /// Starts Xvfb with a black root, so a window nobody has painted shows black. Xvfb
    /// itself picks a free display and writes its number to the pipe it is handed. It is
    /// told to go when this process goes, so not even a crash of the benchmark leaves it behind.
    /// Called before anything starts a thread, so forking is safe.
    bool start()
    {
        int fds[2];
        if (pipe(fds) != 0)
            return false;
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        std::vector<std::string> words = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0",
                                          "1024x768x24", "-br", "-nolisten", "tcp", "-noreset"};
        std::vector<char *> args;
        for (std::string &word : words)
            args.push_back(word.data());
        args.push_back(nullptr);
        const pid_t parent = getpid();
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (getppid() != parent)
                _exit(1);
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execvp(args[0], args.data());
            _exit(127);
        }
        close(fds[1]);
        if (m_pid < 0) {
            m_pid = 0;
            close(fds[0]);
            return false;
        }
        QByteArray number;
        char c = 0;
        pollfd ready{fds[0], POLLIN, 0};
        while (poll(&ready, 1, 10'000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
            number.append(c);
        close(fds[0]);
        bool ok = false;
        number.toInt(&ok);
        if (ok)
            m_display = ':' + number;
        return ok;
    }

    QByteArray display() const { return m_display; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = 0;
    QByteArray m_display;
};

/// A connection to the X server that sees every top-level window being mapped.
class WindowWatch
{
public:
    struct Mapped
    {
        xcb_window_t window = 0;
        qint64 atNs = 0;
        QSize size;
    };

    explicit WindowWatch(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &events);
        const char name[] = "_NET_WM_PID";
        const auto cookie = xcb_intern_atom(m_connection, 0, sizeof name - 1, name);
        if (auto *reply = xcb_intern_atom_reply(m_connection, cookie, nullptr)) {
            m_pidAtom = reply->atom;
            std::free(reply);
        }
    }
    ~WindowWatch() { xcb_disconnect(m_connection); }
    WindowWatch(const WindowWatch &) = delete;
    WindowWatch &operator=(const WindowWatch &) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection) && m_pidAtom != XCB_ATOM_NONE; }

    /// Throws away what earlier launches left in the queue.
    void drain()
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
    }

    /// Waits for a top-level window of process \a pid to be mapped. Qt names the process
    /// of each window in _NET_WM_PID before it maps it.
    std::optional<Mapped> waitForMap(qint64 pid, const QElapsedTimer &clock, qint64 deadlineMs)
    {
        while (clock.elapsed() < deadlineMs) {
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> owned(event, &std::free);
                if ((event->response_type & 0x7f) != XCB_MAP_NOTIFY)
                    continue;
                const qint64 at = clock.nsecsElapsed();
                const xcb_window_t window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                if (pidOf(window) == pid)
                    return Mapped{window, at, sizeOf(window)};
            }
            if (xcb_connection_has_error(m_connection))
                return std::nullopt;
            pollfd ready{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            poll(&ready, 1, int(std::clamp<qint64>(deadlineMs - clock.elapsed(), 0, 100)));
        }
        return std::nullopt;
    }

    /// Looks at the window's middle row every millisecond until a pixel is not black, and
    /// tells when. The row crosses the whole window, so any first frame shows in it.
    std::optional<qint64> waitForPaint(const Mapped &mapped, const QElapsedTimer &clock, qint64 deadlineMs)
    {
        while (clock.elapsed() < deadlineMs) {
            const auto cookie = xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, mapped.window, 0,
                                              int16_t(mapped.size.height() / 2), uint16_t(mapped.size.width()), 1,
                                              ~0u);
            xcb_generic_error_t *error = nullptr;
            xcb_get_image_reply_t *reply = xcb_get_image_reply(m_connection, cookie, &error);
            if (!reply) {
                std::free(error);
                return std::nullopt;
            }
            const qint64 at = clock.nsecsElapsed();
            const uint8_t *pixels = xcb_get_image_data(reply);
            const int length = xcb_get_image_data_length(reply);
            // Depth 24 comes as 32 bits a pixel; the fourth byte of each is padding.
            bool painted = false;
            for (int i = 0; i < length && !painted; ++i)
                painted = i % 4 != 3 && pixels[i] != 0;
            std::free(reply);
            if (painted)
                return at;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return std::nullopt;
    }

private:
    qint64 pidOf(xcb_window_t window)
    {
        const auto cookie = xcb_get_property(m_connection, 0, window, m_pidAtom, XCB_ATOM_CARDINAL, 0, 1);
        xcb_get_property_reply_t *reply = xcb_get_property_reply(m_connection, cookie, nullptr);
        if (!reply)
            return -1;
        qint64 pid = -1;
        if (reply->format == 32 && xcb_get_property_value_length(reply) == 4)
            pid = *static_cast<const uint32_t *>(xcb_get_property_value(reply));
        std::free(reply);
        return pid;
    }

    QSize sizeOf(xcb_window_t window)
    {
        xcb_get_geometry_reply_t *reply =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (!reply)
            return {};
        const QSize size(reply->width, reply->height);
        std::free(reply);
        return size;
    }

    xcb_connection_t *m_connection = nullptr;
    xcb_atom_t m_pidAtom = XCB_ATOM_NONE;
};

struct Launch
{
    double mappedMs = 0;
    double paintedMs = 0;
    QSize size;
};

/// Launches \a program and times it from the start of the launch until its window is mapped
/// and until it is painted. \a whileShown, if given, runs with the window on screen, before the
/// process is ended.
std::optional<Launch> timeLaunch(WindowWatch &watch, const QString &program, const QStringList &arguments,
                                 const QProcessEnvironment &environment, const QString &errorLog,
                                 const std::function<void(qint64 pid)> &whileShown = {})
{
    watch.drain();
    QProcess child;
    child.setProgram(program);
    child.setArguments(arguments);
    child.setProcessEnvironment(environment);
    child.setStandardOutputFile(QProcess::nullDevice());
    child.setStandardErrorFile(errorLog);

    QElapsedTimer clock;
    clock.start();
    child.start();
    std::optional<Launch> launch;
    if (child.waitForStarted(int(launchTimeoutMs))) {
        if (const auto mapped = watch.waitForMap(child.processId(), clock, launchTimeoutMs)) {
            if (const auto paintedNs = watch.waitForPaint(*mapped, clock, launchTimeoutMs))
                launch = Launch{double(mapped->atNs) / 1e6, double(*paintedNs) / 1e6, mapped->size};
        }
    }
    if (launch && whileShown)
        whileShown(child.processId());
    child.terminate();
    if (!child.waitForFinished(5'000)) {
        child.kill();
        child.waitForFinished(5'000);
    }
    if (!launch) {
        QFile log(errorLog);
        std::fprintf(stderr, "%s showed no painted window within %lld ms\n", qPrintable(program), launchTimeoutMs);
        if (log.open(QIODevice::ReadOnly))
            std::fprintf(stderr, "its error output:\n%s\n", log.readAll().constData());
    }
    return launch;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double minimum(const std::vector<double> &values)
{
    return *std::min_element(values.begin(), values.end());
}

struct LaunchFigures
{
    std::vector<double> mapped;
    std::vector<double> painted;

    void add(const Launch &launch)
    {
        mapped.push_back(launch.mappedMs);
        painted.push_back(launch.paintedMs);
    }
};

void printLaunchRow(const char *what, const LaunchFigures &f)
{
    std::printf("%-34s %8.1f %8.1f   %8.1f %8.1f\n", what, median(f.mapped), minimum(f.mapped), median(f.painted),
                minimum(f.painted));
}

void printRatioRow(const char *what, const LaunchFigures &a, const LaunchFigures &b)
{
    std::printf("%-34s %8.2f %8.2f   %8.2f %8.2f\n", what, median(a.mapped) / median(b.mapped),
                minimum(a.mapped) / minimum(b.mapped), median(a.painted) / median(b.painted),
                minimum(a.painted) / minimum(b.painted));
}

/// The idle cost of a running process over one stretch of time.
struct Idle
{
    const char *state = "";
    bool playing = false;
    double cpuPercent = 0;
    double wakeupsPerSecond = 0;
    double serverCpuPercent = 0;
    double residentMiB = 0;
};

void printIdleHeader()
{
    std::printf("%-38s %7s %11s %8s %8s\n", "state", "CPU %", "wakeups/s", "Xvfb %", "RSS MiB");
}

void printIdleRow(const Idle &idle)
{
    std::printf("%-38s %7.2f %11.1f %8.2f %8.1f\n", idle.state, idle.cpuPercent, idle.wakeupsPerSecond,
                idle.serverCpuPercent, idle.residentMiB);
}

/// What process \a pid and the X server use while \a wait runs: CPU time and wakeups of all
/// the process's threads (the players' too), and the server's CPU time, for drawing. Nothing
/// when the process is gone by the end.
std::optional<Idle> measureIdle(const char *state, bool playing, pid_t pid, pid_t server,
                                const std::function<void()> &wait)
{
    const double before = cpuSecondsOf(pid);
    const double wakeupsBefore = wakeupsOf(pid);
    const double serverBefore = cpuSecondsOf(server);
    QElapsedTimer clock;
    clock.start();
    wait();
    const double seconds = double(clock.nsecsElapsed()) / 1e9;
    const double after = cpuSecondsOf(pid);
    const double wakeupsAfter = wakeupsOf(pid);
    const double resident = residentMiBOf(pid);
    if (before < 0 || after < 0 || wakeupsAfter < 0 || resident < 0)
        return std::nullopt;
    return Idle{state,
                playing,
                100 * (after - before) / seconds,
                (wakeupsAfter - wakeupsBefore) / seconds,
                100 * (cpuSecondsOf(server) - serverBefore) / seconds,
                resident};
}

/// Launches the program itself and leaves it alone with its window on screen: the real
/// program's own figure for step one, with nothing of this benchmark in its process.
std::optional<Idle> idleProgram(WindowWatch &watch, const QString &program, const QProcessEnvironment &environment,
                                const QString &errorLog, pid_t server)
{
    std::optional<Idle> idle;
    const auto launched = timeLaunch(watch, program, {}, environment, errorLog, [&](qint64 pid) {
        QThread::msleep(settleMs);
        idle = measureIdle("mp3cutter process, step 1", false, pid_t(pid), server,
                           [] { QThread::msleep(idleMs); });
    });
    return launched ? idle : std::nullopt;
}

/// Lets this process's event loop run untouched while it is measured.
std::optional<Idle> idleHere(const char *state, bool playing, pid_t server)
{
    return measureIdle(state, playing, getpid(), server, [] {
        QEventLoop loop;
        QTimer::singleShot(idleMs, &loop, &QEventLoop::quit);
        loop.exec();
    });
}

/// Makes a 30-second stereo tone as a 128 kbit/s MP3 with Debian's sox and lame, long enough
/// to play through two stretches of idle and cut a piece that plays for a few seconds.
bool makeSong(const QString &folder, const QString &mp3)
{
    const QString wav = QDir(folder).filePath(QStringLiteral("tone.wav"));
    const auto run = [](const QString &program, const QStringList &arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, arguments);
        return process.waitForFinished(60'000) && process.exitStatus() == QProcess::NormalExit
               && process.exitCode() == 0;
    };
    const QStringList tone = QStringLiteral("synth 30 sine 440 sine 660 gain -6").split(u' ');
    const bool made =
        run(QStringLiteral("sox"), QStringLiteral("-n -r 44100 -c 2 -b 16").split(u' ') + QStringList{wav} + tone)
        && run(QStringLiteral("lame"), QStringLiteral("--quiet -b 128 --cbr").split(u' ') + QStringList{wav, mp3});
    QFile::remove(wav);
    return made;
}

/// The window, built as the program builds it but with prompts that answer from a queue, so the
/// benchmark can choose the song; the players are the real ones.
struct RealWindow
{
    PlayerEngine &engine(const char *playerName) const
    {
        return qstrcmp(playerName, "MDplay") == 0 ? *h.song : *h.piece;
    }
    bool is(const char *playerName, PlayerEngine::State state) const { return engine(playerName).state() == state; }
    bool playedPast(const char *playerName, double seconds) const
    {
        return is(playerName, PlayerEngine::State::Playing) && engine(playerName).position().value_or(0) >= seconds;
    }
    bool atEnd(const char *playerName) const { return is(playerName, PlayerEngine::State::Ended); }
    /// Clicks a button of the window, or of the player named \a playerName, as a user would.
    void click(const char *name, const char *playerName = nullptr) const
    {
        QWidget *parent = playerName ? h.child<QWidget>(QLatin1String(playerName)) : h.frm.get();
        QTest::mouseClick(parent->findChild<QAbstractButton *>(QLatin1String(name)), Qt::LeftButton);
    }

    Harness h{Harness::Players::Real};
};

/// Waits for \a done, or says what did not happen.
bool waitFor(const std::function<bool()> &done, const char *what, const RealWindow &window, int timeoutMs = 15'000)
{
    if (QTest::qWaitFor(done, timeoutMs))
        return true;
    std::fprintf(stderr, "gave up waiting: %s\n", what);
    for (const auto &told : window.h.prompts.told)
        std::fprintf(stderr, "the window said: %s\n", qPrintable(told.text));
    return false;
}

/// Walks the window through the three steps with a real song, measuring each idle state.
std::optional<std::vector<Idle>> idleThroughSteps(const QString &song, pid_t server)
{
    std::vector<Idle> figures;
    const auto measure = [&](const char *state, bool playing) {
        const auto idle = idleHere(state, playing, server);
        if (idle)
            figures.push_back(*idle);
        return idle.has_value();
    };
    RealWindow w;
    const auto isIn = [&w](const char *player, PlayerEngine::State state) {
        return [&w, player, state] { return w.is(player, state); };
    };

    if (!QTest::qWaitForWindowExposed(w.h.frm.get()))
        return std::nullopt;
    QTest::qWait(settleMs);
    if (!measure("step 1, nothing loaded", false))
        return std::nullopt;

    // The start is marked a second in, the end after the playing stretch: a piece of several
    // seconds, so that it plays for a while in step 3.
    w.h.choose(song);
    if (!waitFor([&] { return w.playedPast("MDplay", 1.0); }, "the song playing for a second", w))
        return std::nullopt;
    w.click("cmdQ");
    w.click("pause", "MDplay");
    if (!waitFor(isIn("MDplay", PlayerEngine::State::Paused), "the song paused", w))
        return std::nullopt;
    QTest::qWait(settleMs);
    if (!measure("step 2, song paused", false))
        return std::nullopt;

    w.click("play", "MDplay");
    if (!waitFor(isIn("MDplay", PlayerEngine::State::Playing), "the song playing again", w)
        || !measure("step 2, song playing (for contrast)", true))
        return std::nullopt;

    QSignalSpy cutEnded(w.h.session.get(), &CutSession::cutEnded);
    w.click("Command1");
    if (!waitFor([&] { return !cutEnded.isEmpty(); }, "the cut", w) || !cutEnded.first().first().toBool())
        return std::nullopt;
    if (!waitFor(isIn("MDst", PlayerEngine::State::Playing), "the kept piece playing", w))
        return std::nullopt;
    w.click("pause", "MDst");
    if (!waitFor(isIn("MDst", PlayerEngine::State::Paused), "the kept piece paused", w))
        return std::nullopt;
    QTest::qWait(settleMs);
    if (!measure("step 3, kept piece paused", false))
        return std::nullopt;

    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    w.click("play", "MDst");
    if (!waitFor([&] { return w.atEnd("MDst"); }, "the kept piece played to its end", w, 60'000))
        return std::nullopt;
    QTest::qWait(settleMs);
    if (!measure("step 3, kept piece finished", false))
        return std::nullopt;
    return figures;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], bareWindowArgument) == 0) {
        const QList<QByteArray> size = QByteArray(argv[2]).split('x');
        return runBareWindow(argc, argv, QSize(size.value(0).toInt(), size.value(1).toInt()),
                             argc == 4 && qstrcmp(argv[3], withTextArgument) == 0);
    }

    XServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    // This process shows the window of the idle figures on the same server, through the same
    // platform plugin as the program.
    qputenv("DISPLAY", server.display());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    // The benchmark is built in bench/ of the build folder, the program at its top.
    const QString program =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral("../mp3cutter"));
    if (!QFile::exists(program)) {
        std::fprintf(stderr, "no program at %s: build the mp3cutter target\n", qPrintable(program));
        return 1;
    }
    QTemporaryDir dir;
    const QString errorLog = dir.filePath(QStringLiteral("stderr.txt"));
    WindowWatch watch(server.display());
    if (!dir.isValid() || !watch.ok()) {
        std::fprintf(stderr, "cannot watch the X server %s\n", server.display().constData());
        return 1;
    }
    // The launched processes inherit DISPLAY and the platform plugin set above.
    const QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    std::printf("Startup benchmark on a private X server %s (Xvfb, no window manager)\n",
                server.display().constData());
    std::printf("program: %s\n", qPrintable(QFileInfo(program).canonicalFilePath()));
    // Other work on the machine slows every launch alike, but widens the spread of the figures.
    QFile load(QStringLiteral("/proc/loadavg"));
    if (load.open(QIODevice::ReadOnly))
        std::printf("load average at the start: %s, on %d cores\n", load.readLine().split(' ').first().constData(),
                    QThread::idealThreadCount());
    std::printf("After one untimed launch of each, runs alternate the program and two bare windows, %d of each.\n",
                launchRuns);
    std::printf("Mapped: the X server maps the window. Painted: its first frame is on screen.\n\n");

    // The untimed first launch of the program also tells the size the bare windows take; it
    // and theirs pay what only a first launch pays (files read from disk, caches of fonts
    // and of GStreamer's plugins written), which then lands in none of the figures.
    const auto first = timeLaunch(watch, program, {}, environment, errorLog);
    if (!first)
        return 1;
    const QString size = QStringLiteral("%1x%2").arg(first->size.width()).arg(first->size.height());
    const QString self = QCoreApplication::applicationFilePath();
    const QStringList bare = {QLatin1String(bareWindowArgument), size};
    const QStringList bareWithText = bare + QStringList{QLatin1String(withTextArgument)};
    if (!timeLaunch(watch, self, bare, environment, errorLog)
        || !timeLaunch(watch, self, bareWithText, environment, errorLog))
        return 1;

    LaunchFigures programFigures;
    LaunchFigures bareFigures;
    LaunchFigures textFigures;
    for (int i = 0; i < launchRuns; ++i) {
        const auto programLaunch = timeLaunch(watch, program, {}, environment, errorLog);
        const auto bareLaunch = timeLaunch(watch, self, bare, environment, errorLog);
        const auto textLaunch = timeLaunch(watch, self, bareWithText, environment, errorLog);
        if (!programLaunch || !bareLaunch || !textLaunch)
            return 1;
        programFigures.add(*programLaunch);
        bareFigures.add(*bareLaunch);
        textFigures.add(*textLaunch);
    }

    std::printf("%-34s %17s   %17s\n", "launch to window, ms", "mapped", "painted");
    std::printf("%-34s %8s %8s   %8s %8s\n", "", "median", "min", "median", "min");
    printLaunchRow("mp3cutter", programFigures);
    printLaunchRow(qPrintable(QStringLiteral("bare QWidget ") + size), bareFigures);
    printLaunchRow(qPrintable(QStringLiteral("bare QWidget ") + size + QStringLiteral(" + label")), textFigures);
    printRatioRow("ratio program / bare", programFigures, bareFigures);
    printRatioRow("ratio program / bare + label", programFigures, textFigures);
    const double paintedRatio = median(programFigures.painted) / median(bareFigures.painted);
    std::printf("aim: painted within %.1f × the bare window: %s (%.2f × on the medians)\n\n", launchAim,
                paintedRatio <= launchAim ? "met" : "NOT met", paintedRatio);

    const QString song = dir.filePath(QStringLiteral("song.mp3"));
    if (!makeSong(dir.path(), song)) {
        std::fprintf(stderr, "cannot make the song with sox and lame\n");
        return 1;
    }
    const auto programIdle = idleProgram(watch, program, environment, errorLog, server.pid());
    const auto steps = idleThroughSteps(song, server.pid());
    if (!programIdle || !steps)
        return 1;

    std::printf("Idle cost, %.0f s each after %.0f s to settle; CPU %% of one core, all threads together\n",
                idleMs / 1000.0, settleMs / 1000.0);
    std::printf("wakeups/s: how often a thread of the process went to sleep, so was woken; Xvfb %%: what the\n"
                "X server spent meanwhile, drawing for it; RSS: resident size at the end.\n\n");
    std::printf("The launched program, with nothing done in its window:\n");
    printIdleHeader();
    printIdleRow(*programIdle);
    std::printf("\nThe same window in this process, real players, dialogs answered by the benchmark:\n");
    printIdleHeader();
    double worstQuiet = programIdle->cpuPercent;
    for (const Idle &idle : *steps) {
        printIdleRow(idle);
        if (!idle.playing)
            worstQuiet = std::max(worstQuiet, idle.cpuPercent);
    }
    std::printf("aim: under %.1f %% of one core while nothing plays: %s (at most %.2f %%)\n", idleCpuAimPercent,
                worstQuiet < idleCpuAimPercent ? "met" : "NOT met", worstQuiet);
    return 0;
}
