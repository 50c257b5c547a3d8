#include "fakes.h"

void FakePlayer::setUrl(const QString &path)
{
    m_url = path;
    urlsSet.append(path);
    playing = !path.isEmpty();
}

bool FakeDialog::answer()
{
    ++shown;
    if (whileOpen)
        whileOpen();
    const auto next = answers.isEmpty() ? std::nullopt : answers.dequeue();
    if (next)
        m_fileName = *next;
    return next.has_value() || !cancelError;
}

#include "app/frm.h"
#include "platform/qtfilesystem.h"
#include "platform/qtmediaplayer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

/// Passes writes through to the real file until the shared budget runs out.
class BudgetDevice : public QIODevice
{
public:
    BudgetDevice(std::unique_ptr<QIODevice> inner, qint64 &budget)
        : m_inner(std::move(inner))
        , m_budget(budget)
    {
        open(QIODevice::WriteOnly);
    }
    ~BudgetDevice() override { m_inner->close(); }

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override
    {
        if (m_budget >= 0 && len > m_budget)
            return -1;
        if (m_budget >= 0)
            m_budget -= len;
        return m_inner->write(data, len);
    }

private:
    std::unique_ptr<QIODevice> m_inner;
    qint64 &m_budget;
};

} // namespace

FaultyFileSystem::FaultyFileSystem(std::unique_ptr<FileSystem> real)
    : m_real(std::move(real))
{
}

std::unique_ptr<QIODevice> FaultyFileSystem::openRead(const QString &path)
{
    return m_real->openRead(path);
}

std::unique_ptr<QIODevice> FaultyFileSystem::openWrite(const QString &path)
{
    log.append(QStringLiteral("write ") + path);
    const QFileInfo info(path);
    existingAtOpen.append(QDir(info.absolutePath()).entryList(QDir::Files, QDir::Name));
    if (refuseWrite && refuseWrite(path))
        return nullptr;
    auto device = m_real->openWrite(path);
    if (!device || writeBudget < 0)
        return device;
    return std::make_unique<BudgetDevice>(std::move(device), writeBudget);
}

FileSystem::MoveResult FaultyFileSystem::rename(const QString &from, const QString &to)
{
    log.append(QStringLiteral("rename %1 > %2").arg(from, to));
    if (renamesCrossDevice && QFileInfo(from).absolutePath() != QFileInfo(to).absolutePath())
        return MoveResult::CrossDevice;
    return m_real->rename(from, to);
}

bool FaultyFileSystem::remove(const QString &path)
{
    log.append(QStringLiteral("remove ") + path);
    return m_real->remove(path);
}

Harness::Harness(Players players)
{
    Platform platform;
    if (players == Players::Real) {
        platform.mdplay = new QtMediaPlayer;
        platform.mdst = new QtMediaPlayer;
    } else {
        platform.mdplay = mdplay = new FakePlayer;
        platform.mdst = mdst = new FakePlayer;
    }
    play = platform.mdplay;
    listen = platform.mdst;
    platform.cmmDlg = std::make_unique<FakeDialog>();
    cmmDlg = static_cast<FakeDialog *>(platform.cmmDlg.get());
    platform.comDlg = std::make_unique<FakeDialog>();
    comDlg = static_cast<FakeDialog *>(platform.comDlg.get());
    platform.messages = std::make_unique<FakeMessages>();
    messages = static_cast<FakeMessages *>(platform.messages.get());
    platform.files = std::make_unique<FaultyFileSystem>(std::make_unique<QtFileSystem>());
    files = static_cast<FaultyFileSystem *>(platform.files.get());
    platform.processes = std::make_unique<FakeProcesses>();
    processes = static_cast<FakeProcesses *>(platform.processes.get());
    frm = std::make_unique<Frm>(std::move(platform));
    frm->show();
}

Harness::~Harness() = default;

void Harness::click(const QString &name) const
{
    auto *button = child<QPushButton>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

void Harness::choose(const QString &path) const
{
    cmmDlg->answers.enqueue(path);
    click(QStringLiteral("cmdBrowseS"));
}

void Harness::markAt(double seconds) const
{
    mdplay->m_position = seconds;
    click(QStringLiteral("cmdQ"));
}

bool Harness::cutAt(double seconds) const
{
    mdplay->m_position = seconds;
    QSignalSpy ended(frm.get(), &Frm::cutEnded);
    click(QStringLiteral("Command1"));
    if (!frm->cutRunning())
        return false;
    return ended.wait(30000) && ended.at(0).at(0).toBool();
}

namespace {

/// The step (1 to 3) whose one control of three has \a property; 0 when none or several do.
template<class T, class Property>
int onlyStep(const Harness &h, const QString &name, Property property)
{
    int step = 0;
    for (int i = 0; i < 3; ++i) {
        if (property(h.child<T>(name.arg(i))))
            step = step ? -1 : i + 1;
    }
    return std::max(step, 0);
}

} // namespace

int Harness::visibleStep() const
{
    return onlyStep<QGroupBox>(*this, QStringLiteral("FM(%1)"), [](QWidget *w) { return w->isVisible(); });
}

int Harness::enabledStep() const
{
    return onlyStep<QPushButton>(*this, QStringLiteral("Cmdx(%1)"), [](QWidget *w) { return w->isEnabled(); });
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray writePatternFile(const QString &path, qint64 size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qint64 i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
        return {};
    return bytes;
}
