// Prints how long the program takes from its launch until its window is painted, against a bare
// Qt window of the same size (bench/barewindow, which links Qt Widgets alone), and what the window
// costs while it sits idle in each step. With --launches, only the launches.
// Figures only: nothing here passes or fails on timing.
//
// Everything runs on a private Xvfb that this benchmark starts and stops, without a window
// manager, so no compositor delays one launch and not the other. A window counts as painted when
// a pixel of its middle row first differs from the black root behind it: Qt gives its windows no
// background of their own, so nothing but the program's first frame turns them from black.

#include "harness.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStyleHints>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

constexpr int launchRuns = 21;
/// A launch whose window is not painted by then counts as failed rather than hanging the run.
constexpr qint64 launchTimeoutMs = 30'000;
constexpr int idleMs = 5'000;
/// Startup work, the end of a cut and the last buffers of a piece are over by then.
constexpr int settleMs = 1'000;

/// CPU seconds of a whole process to the nanosecond (/proc's ticks are too coarse for an idle
/// one); -1 when it is gone.
double cpuSecondsOf(qint64 pid)
{
    clockid_t clock = 0;
    timespec used{};
    if (clock_getcpuclockid(pid_t(pid), &clock) != 0 || clock_gettime(clock, &used) != 0)
        return -1;
    return double(used.tv_sec) + double(used.tv_nsec) / 1e9;
}

/// The resident size of a process in MiB; -1 when it is gone.
double residentMiBOf(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return -1;
}

/// Xvfb on the first free display, with a black root, started before Qt (which needs its
/// display from the start) and stopped when this goes.
class XServer
{
public:
    bool start()
    {
        for (int n = 90; n < 200; ++n) {
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(n);
            if (access(socket.c_str(), F_OK) == 0)
                continue;
            std::string words[] = {"Xvfb", ":" + std::to_string(n), "-screen", "0", "1024x768x24", "-br", "-nolisten", "tcp"};
            std::vector<char *> args;
            for (std::string &word : words)
                args.push_back(word.data());
            args.push_back(nullptr);
            if (posix_spawnp(&m_pid, "Xvfb", nullptr, nullptr, args.data(), environ) != 0)
                return false;
            display = QByteArray::fromStdString(words[1]);
            for (int tries = 0; tries < 1000 && access(socket.c_str(), F_OK) != 0; ++tries)
                QThread::msleep(10);
            return access(socket.c_str(), F_OK) == 0;
        }
        return false;
    }
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

    QByteArray display;

private:
    pid_t m_pid = 0;
};

/// Sees top-level windows mapped on the server, and their first painted pixels.
class WindowWatch
{
public:
    explicit WindowWatch(const QByteArray &display)
        : m_connection(xcb_connect(display.constData(), nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
        const uint32_t events = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_connection, root, XCB_CW_EVENT_MASK, &events);
        xcb_flush(m_connection);
    }
    ~WindowWatch() { xcb_disconnect(m_connection); }
    WindowWatch(const WindowWatch &) = delete;
    WindowWatch &operator=(const WindowWatch &) = delete;

    bool ok() const { return !xcb_connection_has_error(m_connection); }

    /// Milliseconds from \a clock's start until a window mapped after it shows a painted pixel in
    /// its middle row; its size in \a size. One launch at a time runs, so the window is its.
    std::optional<double> waitForPaint(const QElapsedTimer &clock, QSize &size)
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection))
            std::free(event);
        xcb_window_t window = 0;
        while (!window && clock.elapsed() < launchTimeoutMs && ok()) {
            pollfd ready{xcb_get_file_descriptor(m_connection), POLLIN, 0};
            poll(&ready, 1, 100);
            while (xcb_generic_event_t *event = xcb_poll_for_event(m_connection)) {
                if (!window && (event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                    window = reinterpret_cast<xcb_map_notify_event_t *>(event)->window;
                std::free(event);
            }
        }
        if (auto *geometry = xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr)) {
            size = QSize(geometry->width, geometry->height);
            std::free(geometry);
        }
        while (window && clock.elapsed() < launchTimeoutMs) {
            const auto cookie = xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, window, 0,
                                              int16_t(size.height() / 2), uint16_t(size.width()), 1, ~0u);
            xcb_get_image_reply_t *reply = xcb_get_image_reply(m_connection, cookie, nullptr);
            if (!reply)
                return std::nullopt;
            const double at = double(clock.nsecsElapsed()) / 1e6;
            const uint8_t *pixels = xcb_get_image_data(reply);
            // Depth 24 comes as 32 bits a pixel; the fourth byte of each is padding.
            const int length = xcb_get_image_data_length(reply);
            bool painted = false;
            for (int i = 0; i < length && !painted; ++i)
                painted = i % 4 != 3 && pixels[i] != 0;
            std::free(reply);
            if (painted)
                return at;
            QThread::msleep(1);
        }
        return std::nullopt;
    }

private:
    xcb_connection_t *m_connection = nullptr;
};

/// Launches \a program and times it until its window is painted; \a whileShown then runs with
/// the process's id, before the process is ended.
std::optional<double> timeLaunch(WindowWatch &watch, const QString &program, const QStringList &arguments,
                                 QSize &size, const std::function<void(qint64)> &whileShown = {})
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer clock;
    clock.start();
    child.start(program, arguments);
    const std::optional<double> painted = child.waitForStarted() ? watch.waitForPaint(clock, size) : std::nullopt;
    if (painted && whileShown)
        whileShown(child.processId());
    child.terminate();
    if (!child.waitForFinished(5'000))
        child.kill();
    if (!painted)
        std::fprintf(stderr, "%s showed no painted window within %lld ms\n", qPrintable(program), launchTimeoutMs);
    return painted;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// Prints the CPU share and resident size of process \a pid over idleMs of \a wait.
bool printIdle(const char *state, qint64 pid, const std::function<void()> &wait)
{
    const double before = cpuSecondsOf(pid);
    QElapsedTimer clock;
    clock.start();
    wait();
    const double after = cpuSecondsOf(pid);
    const double resident = residentMiBOf(pid);
    if (before < 0 || after < 0 || resident < 0)
        return false;
    std::printf("%-40s %7.2f %8.1f\n", state, 100 * (after - before) / (double(clock.nsecsElapsed()) / 1e9), resident);
    return true;
}

/// Lets this process's event loop run untouched for idleMs (QTest::qWait would wake it every 10 ms).
void idleHere()
{
    QEventLoop loop;
    QTimer::singleShot(idleMs, &loop, &QEventLoop::quit);
    loop.exec();
}

/// Walks the window, with the real players, through the three steps, printing each idle state.
bool idleThroughSteps(const QString &song)
{
    Harness h(Harness::Players::Real);
    const auto click = [&h](const char *name, const char *player = nullptr) {
        QWidget *parent = player ? h.child<QWidget>(QLatin1String(player)) : h.frm.get();
        QTest::mouseClick(parent->findChild<QAbstractButton *>(QLatin1String(name)), Qt::LeftButton);
    };
    const auto waitFor = [](const std::function<bool()> &done, const char *what) {
        const bool happened = QTest::qWaitFor(done, 60'000);
        if (!happened)
            std::fprintf(stderr, "gave up waiting: %s\n", what);
        return happened;
    };
    const auto is = [](PlayerEngine &player, PlayerEngine::State state) {
        return [&player, state] { return player.state() == state; };
    };
    const qint64 self = QCoreApplication::applicationPid();

    QTest::qWait(settleMs);
    if (!printIdle("step 1, nothing loaded", self, idleHere))
        return false;
    // The start a second in, the end after the playing stretch: a piece that plays a while.
    h.choose(song);
    if (!waitFor([&h] { return h.song->position().value_or(0) >= 1.0; }, "the song playing for a second"))
        return false;
    click("cmdQ");
    click("pause", "MDplay");
    if (!waitFor(is(*h.song, PlayerEngine::State::Paused), "the song paused"))
        return false;
    QTest::qWait(settleMs);
    if (!printIdle("step 2, song paused", self, idleHere))
        return false;
    click("play", "MDplay");
    if (!waitFor(is(*h.song, PlayerEngine::State::Playing), "the song playing again")
        || !printIdle("step 2, song playing (for contrast)", self, idleHere))
        return false;

    QSignalSpy cutEnded(h.session.get(), &CutSession::cutEnded);
    click("Command1");
    if (!waitFor([&] { return !cutEnded.isEmpty(); }, "the cut") || !cutEnded.first().first().toBool()
        || !waitFor(is(*h.piece, PlayerEngine::State::Playing), "the kept piece playing"))
        return false;
    click("pause", "MDst");
    if (!waitFor(is(*h.piece, PlayerEngine::State::Paused), "the kept piece paused"))
        return false;
    QTest::qWait(settleMs);
    if (!printIdle("step 3, kept piece paused", self, idleHere))
        return false;
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    click("play", "MDst");
    if (!waitFor(is(*h.piece, PlayerEngine::State::Ended), "the kept piece played to its end"))
        return false;
    QTest::qWait(settleMs);
    return printIdle("step 3, kept piece finished", self, idleHere);
}

} // namespace

int main(int argc, char **argv)
{
    XServer server;
    if (!server.start()) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    // This process shows the window of the idle figures on the same server, through the same
    // platform plugin as the program, and the launched processes inherit both.
    qputenv("DISPLAY", server.display);
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    const QDir here(QCoreApplication::applicationDirPath());
    const QString program = here.absoluteFilePath(QStringLiteral("../mp3cutter"));
    const QString bareWindow = here.absoluteFilePath(QStringLiteral("barewindow"));
    WindowWatch watch(server.display);
    if (!QFile::exists(program) || !QFile::exists(bareWindow) || !watch.ok()) {
        std::fprintf(stderr, "no program at %s or %s, or no X server to watch\n", qPrintable(program),
                     qPrintable(bareWindow));
        return 1;
    }

    // One untimed launch of each pays what only a first launch pays (files read from disk, font
    // and plugin caches written); the program's tells the size the bare windows take.
    QSize size;
    if (!timeLaunch(watch, program, {}, size))
        return 1;
    const QStringList bare = {QStringLiteral("%1x%2").arg(size.width()).arg(size.height())};
    const QStringList withText = bare + QStringList{QStringLiteral("--with-text")};
    const std::pair<QString, QStringList> launched[3] = {{program, {}}, {bareWindow, bare}, {bareWindow, withText}};
    std::vector<double> launches[3];
    // Each ratio is the median of the rounds' own: the three launch one after the other in each
    // round, so that the machine's load, which drifts, weighs on them alike.
    std::vector<double> toBare;
    std::vector<double> toLabel;
    // Round 0 is untimed too: the bare windows' first launches.
    for (int i = 0; i <= launchRuns; ++i) {
        double round[3] = {};
        for (int k = 0; k < 3; ++k) {
            QSize shown;
            const auto ms = timeLaunch(watch, launched[k].first, launched[k].second, shown);
            if (!ms)
                return 1;
            round[k] = *ms;
        }
        if (i == 0)
            continue;
        for (int k = 0; k < 3; ++k)
            launches[k].push_back(round[k]);
        toBare.push_back(round[0] / round[1]);
        toLabel.push_back(round[0] / round[2]);
    }
    std::printf("Launch to painted window, median of %d, ms: program %.1f, bare window %.1f, bare window with a "
                "Chinese label %.1f\nratio program / bare %.2f ×, program / bare with label %.2f × (medians of the "
                "rounds' ratios)\n\n",
                launchRuns, median(launches[0]), median(launches[1]), median(launches[2]), median(toBare),
                median(toLabel));

    if (argc > 1 && qstrcmp(argv[1], "--launches") == 0)
        return 0;
    std::printf("Idle, %d s each after %d s to settle:\n%-40s %7s %8s\n", idleMs / 1000, settleMs / 1000, "state",
                "CPU %", "RSS MiB");
    const bool launchedIdle = timeLaunch(watch, program, {}, size, [](qint64 pid) {
        QThread::msleep(settleMs);
        printIdle("the launched program, step 1", pid, [] { QThread::msleep(idleMs); });
    }).has_value();
    // The song is a copy in a folder of its own, where its piece goes: the fixtures stay as made.
    QTemporaryDir folder;
    const QString song = folder.filePath(QStringLiteral("cbr-tones.mp3"));
    if (!launchedIdle || !folder.isValid() || !QFile::copy(QStringLiteral(FIXTURE_DIR "/cbr-tones.mp3"), song))
        return 1;
    return idleThroughSteps(song) ? 0 : 1;
}
