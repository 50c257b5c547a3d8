#include "harness.h"

#include "engine/songtagslib.h"
#include "platform/mpg123decoder.h"
#include "platform/qtplayerengine.h"
#include "sessionrig.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QStyleHints>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

Harness::Harness(Players players)
{
    if (players == Players::Real) {
        song = std::make_unique<QtPlayerEngine>();
        piece = std::make_unique<QtPlayerEngine>();
    } else {
        song = std::make_unique<FakeEngine>();
        piece = std::make_unique<FakeEngine>();
        fakeSong = static_cast<FakeEngine *>(song.get());
        fakePiece = static_cast<FakeEngine *>(piece.get());
    }
    session = std::make_unique<CutSession>(files, prompts, song.get(), piece.get());
    session->setTagReader(tagLibTags());
    frm = std::make_unique<Frm>(*session, processes, &Mpg123Decoder::make);
    frm->show();
}

Harness::~Harness()
{
    frm.reset();
    session.reset();
}

void Harness::click(const QString &name) const
{
    auto *button = child<QPushButton>(name);
    QVERIFY2(button, qPrintable(name));
    QTest::mouseClick(button, Qt::LeftButton);
}

void Harness::choose(const QString &path)
{
    prompts.openAnswers.enqueue(path);
    click(QStringLiteral("cmdBrowseS"));
    if (session->opening())
        waitForOpening(*session);
}

void Harness::markAt(double seconds)
{
    fakeSong->moveTo(seconds);
    click(QStringLiteral("cmdQ"));
}

bool Harness::cutAt(double seconds)
{
    fakeSong->moveTo(seconds);
    QSignalSpy ended(session.get(), &CutSession::cutEnded);
    click(QStringLiteral("Command1"));
    if (!session->cutRunning())
        return false;
    return ended.wait(30000) && ended.at(0).at(0).toBool();
}

void Harness::clickInStepThree(const QString &name) const
{
    QTest::qWait(QGuiApplication::styleHints()->mouseDoubleClickInterval() + 50);
    click(name);
}

bool Harness::tick(const QString &name) const
{
    QSignalSpy ended(session.get(), &CutSession::cutEnded);
    auto *box = child<QCheckBox>(name);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(8, box->height() / 2));
    return ended.wait(10000) && ended.at(0).at(0).toBool();
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

QString Harness::box(const QString &name) const
{
    const auto *edit = child<QLineEdit>(name);
    return edit ? edit->text() : QStringLiteral("<no %1>").arg(name);
}
