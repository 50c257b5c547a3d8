#include "gui/frm.h"

#include "core/chorusfinder.h"
#include "core/cutsession.h"
#include "core/waveformloader.h"
#include "core/numbertext.h"
#include "core/texts.h"
#include "engine/gain.h"
#include "engine/piececheck.h"
#include "gui/fonts.h"
#include "gui/frma.h"
#include "gui/frmtexts.h"
#include "gui/icons.h"
#include "gui/panestyle.h"
#include "gui/pieceview.h"
#include "gui/styledbutton.h"
#include "gui/transportbar.h"
#include "gui/twips.h"
#include "gui/waveformview.h"
#include "platform/processstarter.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleHints>
#include <QTimer>

#include <cmath>

namespace {

const QColor lightGreen(192, 255, 192);
const QColor paleYellow(246, 243, 224);
const QColor paleGrey(236, 235, 230);

StyledButton *styledButton(const QString &name, const QString &caption, QWidget *parent, const QRect &where,
                           const QColor &colour, double pointSize = 9)
{
    auto *button = new StyledButton(caption, parent);
    button->setObjectName(name);
    button->setGeometry(where);
    button->setBackground(colour);
    button->setFont(cjkFont(QStringLiteral("宋体"), pointSize));
    // A click leaves the focus where it was, on the player, whose Space plays and pauses; the
    // keyboard still reaches the button by Tab and by its Alt key.
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QCheckBox *checkBox(const QString &name, const QString &caption, QWidget *parent, const QRect &where)
{
    auto *box = new QCheckBox(caption, parent);
    box->setObjectName(name);
    box->setGeometry(where);
    box->setFocusPolicy(Qt::TabFocus);
    return box;
}

/// Where the fades of a piece kept from \a song are shorter than a fade: at most a third of the
/// piece each, or none on a piece too short for any. Empty where they are as long as asked.
QString fadeNote(const GainChoice &gain, const SongMap *song, const TimeWindow &kept)
{
    if (!(gain.fadeIn || gain.fadeOut) || !song || song->reference.layer != 3)
        return {};
    const auto done = shortenedFade(defaultFadeSeconds, song->sampleAt(kept.to) - song->sampleAt(kept.from),
                                    song->sampleRate());
    if (!done)
        return {};
    const QString which = gain.fadeIn && gain.fadeOut ? FrmText::fadeInAndOut
                          : gain.fadeIn               ? FrmText::fadeIn
                                                      : FrmText::fadeOut;
    return *done > 0 ? FrmText::fadeShortened.arg(which, generalText(std::round(*done * 10) / 10))
                     : FrmText::fadeLeftOut.arg(which);
}

/// What step three says of whether the piece is its song's sound, and in which colour: a fault
/// in red, never left out.
std::pair<QString, QColor> checkLine(const std::optional<PieceCheck> &check, const QPalette &palette)
{
    const QColor fault(0xc0, 0x1c, 0x1c);
    if (!check)
        return {FrmText::checking, palette.color(QPalette::Disabled, QPalette::WindowText)};
    const auto tenths = [](double v) { return generalText(std::round(v * 10) / 10); };
    switch (check->verdict) {
    case PieceCheck::Verdict::Exact: {
        const bool changed = check->fadeInSamples > 0 || check->fadeOutSamples > 0 || check->gainDb != 0;
        return {changed ? FrmText::sameButLouder : FrmText::sameSamples, QColor(0x1b, 0x7a, 0x2e)};
    }
    case PieceCheck::Verdict::Offset:
        return {FrmText::endsOffset.arg(tenths(check->startOffsetMs), tenths(check->endOffsetMs)),
                palette.color(QPalette::WindowText)};
    case PieceCheck::Verdict::Mismatch:
        return {FrmText::differs.arg(clockText(check->sampleRate > 0 ? double(check->firstDifferentSample) / check->sampleRate
                                                                     : 0.0)),
                fault};
    case PieceCheck::Verdict::Failed:
        break;
    }
    return {FrmText::checkFailed, fault};
}

TransportBar *transportBar(PlayerEngine *engine, const QString &name, QWidget *pane, const QRect &where)
{
    auto *bar = new TransportBar(pane);
    bar->setObjectName(name);
    bar->setGeometry(where);
    bar->setEngine(engine);
    return bar;
}

} // namespace

Frm::Frm(CutSession &session, ProcessStarter &processes, const AudioDecoderFactory &decoders, QWidget *parent)
    : QWidget(parent)
    , m_session(session)
    , m_processes(processes)
{
    setFont(windowFont());
    buildControls(decoders);
    connectControls();
    formLoad();
    showState();
}

Frm::~Frm()
{
    delete m_about;
}

void Frm::buildControls(const AudioDecoderFactory &decoders)
{
    setObjectName(QStringLiteral("Frm"));
    setWindowTitle(FrmText::title);
    setWindowIcon(programIcon());
    setFixedSize(481, 302);
    // The layout is fixed, so the window offers no maximise button.
    setAcceptDrops(true);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto *paneStyle = new PaneStyle;
    paneStyle->setParent(this);
    for (int i = 0; i < 3; ++i) {
        m_panes[i] = new QGroupBox(FrmText::pane[i], this);
        m_panes[i]->setStyle(paneStyle);
        m_panes[i]->setObjectName(QStringLiteral("FM(%1)").arg(i));
        m_panes[i]->setGeometry(twips(0, 0, 7215, 3855));
        m_panes[i]->setVisible(i == 0);

        m_stepIndicators[i] = new QPushButton(FrmText::step[i], this);
        m_stepIndicators[i]->setObjectName(QStringLiteral("Cmdx(%1)").arg(i));
        m_stepIndicators[i]->setGeometry(twips(1920 * i, 3880, 1935, 615));
        m_stepIndicators[i]->setEnabled(i == 0);
    }
    m_aboutButton = new QPushButton(FrmText::about, this);
    m_aboutButton->setObjectName(QStringLiteral("dcButton4"));
    m_aboutButton->setGeometry(twips(5760, 3880, 1455, 615));

    // Step 1
    auto *chooseLabel = new QLabel(FrmText::chooseLabel, m_panes[0]);
    chooseLabel->setObjectName(QStringLiteral("Label1"));
    chooseLabel->setGeometry(twips(360, 480, 1455, 255));
    m_browseButton = styledButton(QStringLiteral("cmdBrowseS"), FrmText::browse, m_panes[0],
                                  twips(1800, 1080, 3855, 1935), lightGreen, 15.75);

    // Step 2
    auto *sourceLabel = new QLabel(FrmText::sourceLabel, m_panes[1]);
    sourceLabel->setObjectName(QStringLiteral("Label4"));
    sourceLabel->setGeometry(twips(240, 480, 975, 255));
    m_sourceBox = new QLineEdit(m_panes[1]);
    m_sourceBox->setObjectName(QStringLiteral("txtSource"));
    m_sourceBox->setGeometry(twips(1200, 360, 4455, 375));
    m_sourceBox->setEnabled(false);
    m_chooseAgainButton = styledButton(QStringLiteral("dcButton1"), FrmText::reselect, m_panes[1],
                                       twips(5760, 360, 1215, 375), paleGrey);
    m_songBar = transportBar(m_session.songPlayer(), QStringLiteral("MDplay"), m_panes[1], twips(120, 840, 6960, 2115));
    // Lower than they were, to leave a line for the output folder; the end button still covers
    // the middle of step three's buttons, which a double-click must not reach.
    m_markStartButton = styledButton(QStringLiteral("cmdQ"), FrmText::markStart, m_panes[1],
                                     twips(240, 3000, 2535, 495), paleYellow);
    m_markEndButton = styledButton(QStringLiteral("Command1"), FrmText::markEnd, m_panes[1],
                                   twips(2760, 3000, 2895, 495), paleYellow);
    auto *folderLabel = new QLabel(FrmText::folderLabel, m_panes[1]);
    folderLabel->setObjectName(QStringLiteral("Label5"));
    folderLabel->setGeometry(twips(240, 3570, 975, 255));
    m_outputFolderBox = new QLineEdit(m_panes[1]);
    m_outputFolderBox->setObjectName(QStringLiteral("txtDestdir"));
    m_outputFolderBox->setGeometry(twips(1200, 3540, 2940, 300));
    // Beside the folder, under the end button: shown while the song has a proposed stretch.
    m_proposalButton = styledButton(QStringLiteral("cmdSuggest"), FrmText::takeProposal, m_panes[1],
                                    twips(4245, 3510, 1410, 345), paleYellow);
    m_proposalButton->hide();
    m_chorusFinder = new ChorusFinder(this);
    m_outputFolderBox->setEnabled(false);
    m_statusLabel = new QLabel(m_panes[1]);
    m_statusLabel->setObjectName(QStringLiteral("lb"));
    m_statusLabel->setGeometry(twips(5880, 3000, 1215, 615));
    m_statusLabel->setFont(cjkFont(QStringLiteral("宋体"), 10.5, true));
    m_statusLabel->setWordWrap(true);

    // Step 3
    // The player gives up a row to the boxes that change how the piece plays; they stay clear of
    // where step two's end button was, and their widths leave room for wider glyphs at any scale.
    m_pieceBar = transportBar(m_session.piecePlayer(), QStringLiteral("MDst"), m_panes[2], twips(0, 240, 7200, 2310));
    m_fadeInBox = checkBox(QStringLiteral("chkFadeIn"), FrmText::fadeIn, m_panes[2], twips(240, 2580, 1080, 405));
    m_fadeOutBox = checkBox(QStringLiteral("chkFadeOut"), FrmText::fadeOut, m_panes[2], twips(1440, 2580, 1080, 405));
    m_maxVolumeBox = checkBox(QStringLiteral("chkMaxVolume"), FrmText::maxVolume, m_panes[2],
                              twips(2640, 2580, 1800, 405));
    m_fadeNote = new QLabel(m_panes[2]);
    m_fadeNote->setObjectName(QStringLiteral("lblFade"));
    m_fadeNote->setGeometry(twips(4440, 2580, 2700, 405));
    m_saveButton = styledButton(QStringLiteral("dcButton2"), FrmText::save, m_panes[2], twips(240, 3120, 2295, 615),
                                paleGrey);
    m_recutButton = styledButton(QStringLiteral("dcButton3"), FrmText::recut, m_panes[2],
                                 twips(2520, 3120, 2295, 615), paleGrey);
    m_continueButton = styledButton(QStringLiteral("dcButton5"), FrmText::continueCutting, m_panes[2],
                                    twips(4800, 3120, 2175, 615), paleGrey);
    m_songBar->waveform()->setDecoders(decoders);
    // The piece shows in the song around it, drawn from the song's peaks: it is not decoded again.
    m_pieceView = new PieceView(m_pieceBar);
    m_pieceView->setObjectName(QStringLiteral("pieceView"));
    m_pieceView->setEngine(m_session.piecePlayer());
    m_pieceView->setSongPeaks(m_songBar->waveform()->loader());
    m_pieceBar->setView(m_pieceView);
    m_loopBox = new QCheckBox(FrmText::loop, m_pieceBar);
    m_loopBox->setObjectName(QStringLiteral("chkLoop"));
    m_loopBox->setFocusPolicy(Qt::TabFocus);
    m_pieceBar->addControl(m_loopBox);
    m_checkLine = new QLabel(m_pieceBar);
    m_checkLine->setObjectName(QStringLiteral("lblCheck"));
    m_checkLine->setContentsMargins(6, 0, 0, 0);
    m_pieceBar->addControl(m_checkLine);

    // Hidden mirrors of the session's sizes, parked below the client area: what reads the
    // window's controls by name (tests, accessibility tools) finds them where it always did.
    auto *sizeFrame = new QWidget(this);
    sizeFrame->setObjectName(QStringLiteral("Frame1"));
    sizeFrame->setGeometry(0, 320, 300, 30);
    sizeFrame->hide();
    for (int i = 0; i < 3; ++i) {
        m_sizeBoxes[i] = new QLineEdit(sizeFrame);
        m_sizeBoxes[i]->setObjectName(QStringLiteral("txtSplit(%1)").arg(i));
        m_sizeBoxes[i]->setMaxLength(int(sizeBoxLength));
    }

    // Polls the song player's length once a second: a length the player learns late, or
    // corrects, still reaches the session.
    m_durationTimer = new QTimer(this);
    m_durationTimer->setObjectName(QStringLiteral("Timer1"));
    m_durationTimer->setInterval(1000);
    m_durationTimer->start();
}

void Frm::connectControls()
{
    connect(m_durationTimer, &QTimer::timeout, &m_session, &CutSession::refreshDuration);
    connect(m_browseButton, &QPushButton::clicked, &m_session, &CutSession::chooseSource);
    connect(m_chooseAgainButton, &QPushButton::clicked, &m_session, &CutSession::chooseAgain);
    connect(m_markStartButton, &QPushButton::clicked, &m_session, &CutSession::markStart);
    connect(m_markEndButton, &QPushButton::clicked, &m_session, &CutSession::markEndAndCut);
    connect(m_proposalButton, &QPushButton::clicked, this, [this] {
        if (m_proposal)
            m_session.markAndCut(m_proposal->startSeconds, m_proposal->endSeconds);
    });
    // The proposal comes from the song's own decode, once whole, and goes with the song.
    if (const WaveformLoader *loader = m_songBar->waveform()->loader())
        connect(loader, &WaveformLoader::analysisReady, m_chorusFinder, &ChorusFinder::find);
    connect(m_chorusFinder, &ChorusFinder::found, this, &Frm::showProposal);
    connect(&m_session, &CutSession::sourceTaken, this, [this] {
        m_chorusFinder->cancel();
        showProposal(std::nullopt);
    });
    connect(m_saveButton, &QPushButton::clicked, this, [this] { unlessJustShown(&CutSession::savePiece); });
    connect(m_recutButton, &QPushButton::clicked, this, [this] { unlessJustShown(&CutSession::throwAway); });
    connect(m_continueButton, &QPushButton::clicked, this, [this] { unlessJustShown(&CutSession::keepAndStartOver); });
    connect(m_aboutButton, &QPushButton::clicked, this, &Frm::showAbout);
    connect(m_pieceView, &PieceView::moveAsked, this, [this](PieceEnd end, double seconds) {
        if (end == PieceEnd::Start)
            m_session.moveStart(seconds);
        else
            m_session.moveEnd(seconds);
        // A move turned down shows the piece as it is.
        showState();
    });
    connect(m_loopBox, &QCheckBox::clicked, this, [this](bool on) {
        if (PlayerEngine *player = m_session.piecePlayer())
            player->setLooping(on);
    });
    connect(m_fadeInBox, &QCheckBox::clicked, &m_session, &CutSession::setFadeIn);
    connect(m_fadeOutBox, &QCheckBox::clicked, &m_session, &CutSession::setFadeOut);
    connect(m_maxVolumeBox, &QCheckBox::clicked, &m_session, &CutSession::setMaxVolume);
    // A choice the session turns down, while a cut runs, shows again as it was.
    for (QCheckBox *box : {m_fadeInBox, m_fadeOutBox, m_maxVolumeBox})
        connect(box, &QCheckBox::clicked, this, &Frm::showState);

    connect(&m_session, &CutSession::stepChanged, this, [this](int step) {
        m_sinceStepChange.start();
        if (step == 3)
            rememberCut();
        showStep(step);
    });
    connect(&m_session, &CutSession::changed, this, &Frm::showState);
    // The piece's display says while it is cut again.
    connect(&m_session, &CutSession::cutStarted, this, [this] {
        setCursor(Qt::WaitCursor);
        showState();
    });
    connect(&m_session, &CutSession::cutEnded, this, [this] {
        unsetCursor();
        showState();
    });
}

void Frm::showProposal(std::optional<ChorusProposal> proposal)
{
    m_proposal = proposal;
    m_songBar->waveform()->setProposal(proposal ? std::optional(TimeWindow{proposal->startSeconds, proposal->endSeconds})
                                                : std::nullopt);
    m_proposalButton->setVisible(proposal.has_value());
}

void Frm::formLoad()
{
    // Registers the dialog and button controls where the system may lack them (Windows);
    // elsewhere nothing runs.
    m_processes.startMinimized(FrmText::registerDialogs);
    m_processes.startMinimized(FrmText::registerButtons);
}

void Frm::showState()
{
    const CutState &state = m_session.state();
    // Moved ends are the ones step two shades when the person goes back to mark again.
    if (state.step == 3)
        rememberCut();
    m_sourceBox->setText(state.sourcePath);
    m_outputFolderBox->setText(state.outputFolder);
    m_outputFolderBox->setToolTip(state.outputFolder);
    for (int i = 0; i < 3; ++i)
        m_sizeBoxes[i]->setText(state.mirrors.sizeBoxes[i]);
    m_statusLabel->setText(state.mirrors.status);
    // The boxes say how the piece plays; without one, how the next will. A piece whose song has
    // no gain to change keeps them off, and says why.
    const GainChoice shown = state.piece ? state.piece->gain : state.gain;
    m_fadeInBox->setChecked(shown.fadeIn);
    m_fadeOutBox->setChecked(shown.fadeOut);
    m_maxVolumeBox->setChecked(shown.maxVolume);
    const bool changeable = !state.piece || state.piece->layer == 3;
    for (QCheckBox *box : {m_fadeInBox, m_fadeOutBox, m_maxVolumeBox}) {
        box->setEnabled(changeable);
        box->setToolTip(changeable ? QString() : CutText::noGain(state.piece->layer));
    }
    m_fadeNote->setText(m_lastCut && m_lastCut->song == state.sourcePath
                            ? fadeNote(shown, m_session.songMap(), m_lastCut->kept)
                            : QString());

    const bool cutFromThisSong = m_lastCut && m_lastCut->song == state.sourcePath;
    m_songBar->waveform()->setMarks(state.startMark,
                                    cutFromThisSong ? std::optional(m_lastCut->kept) : std::nullopt);
    m_pieceView->showPiece(state.piece ? std::optional(TimeWindow{state.piece->startSeconds, state.piece->endSeconds})
                                       : std::nullopt,
                           state.duration, m_session.cutRunning());
    const auto [line, colour] = state.piece ? checkLine(state.piece->check, palette()) : std::pair<QString, QColor>();
    m_checkLine->setText(line);
    QPalette linePalette = m_checkLine->palette();
    linePalette.setColor(QPalette::WindowText, colour);
    m_checkLine->setPalette(linePalette);
    m_loopBox->setChecked(m_session.piecePlayer() && m_session.piecePlayer()->looping());
    m_loopBox->setEnabled(m_session.piecePlayer() != nullptr);
}

void Frm::rememberCut()
{
    const CutState &state = m_session.state();
    if (state.piece)
        m_lastCut = ShownCut{state.sourcePath, TimeWindow{state.piece->startSeconds, state.piece->endSeconds}};
}

void Frm::showStep(int n)
{
    const int t = n - 1;
    const int a = t == 0 ? 1 : 0;
    const int b = t == 2 ? 1 : 2;
    m_panes[a]->setVisible(false);
    m_panes[b]->setVisible(false);
    m_panes[t]->setVisible(true);
    m_stepIndicators[a]->setEnabled(false);
    m_stepIndicators[b]->setEnabled(false);
    m_stepIndicators[t]->setEnabled(true);
    // The focus goes where the step is worked: on a button that has just gone, it would pass to
    // its neighbour, and Space meant for the player would press 重新选择 or 保存.
    QWidget *const worked[3] = {m_browseButton, m_songBar->waveform(), m_pieceView};
    worked[t]->setFocus();
}

void Frm::unlessJustShown(void (CutSession::*intent)())
{
    if (!soonAfterStepChange())
        (m_session.*intent)();
}

bool Frm::soonAfterStepChange() const
{
    return m_sinceStepChange.isValid()
        && m_sinceStepChange.elapsed() < QGuiApplication::styleHints()->mouseDoubleClickInterval();
}

void Frm::showAbout()
{
    if (!m_about) {
        m_about = new FrmA();
        m_about->move(geometry().center() - m_about->rect().center());
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void Frm::closeEvent(QCloseEvent *event)
{
    // A cut still writing is abandoned, so no half-written file is left behind.
    m_session.abandonCut();
    if (m_about)
        m_about->close();
    event->accept();
}

QString Frm::droppableSong(const QDropEvent *event) const
{
    // A song may be chosen where step one or two shows, and not while a cut reads the last one.
    if (m_session.state().step == 3 || m_session.cutRunning() || m_session.opening())
        return {};
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile())
        return {};
    return QDir::toNativeSeparators(urls.first().toLocalFile());
}

bool Frm::takeAsCopy(QDropEvent *event) const
{
    // A drop taken as a move tells the file manager to delete the song; it is read, never taken.
    const Qt::DropActions offered = event->possibleActions();
    if (droppableSong(event).isEmpty() || !(offered & (Qt::CopyAction | Qt::LinkAction)))
        return false;
    event->setDropAction(offered & Qt::CopyAction ? Qt::CopyAction : Qt::LinkAction);
    event->accept();
    return true;
}

void Frm::dragEnterEvent(QDragEnterEvent *event)
{
    takeAsCopy(event);
}

void Frm::dragMoveEvent(QDragMoveEvent *event)
{
    takeAsCopy(event);
}

void Frm::dropEvent(QDropEvent *event)
{
    if (takeAsCopy(event))
        m_session.openSource(droppableSong(event));
}
