#pragma once

#include "engine/chorus.h"

#include "core/waveform.h"
#include "gui/frma.h"
#include "platform/audiodecoder.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QWidget>

#include <array>
#include <optional>

class ChorusFinder;
class CutSession;
class QCheckBox;
class PieceView;
class ProcessStarter;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class StyledButton;
class TransportBar;

/// The main window: a three-step wizard that shows a cut session and hands it every click.
class Frm : public QWidget
{
    Q_OBJECT
public:
    /// The waveforms of the song and the piece are decoded with decoders made by \a decoders.
    Frm(CutSession &session, ProcessStarter &processes, const AudioDecoderFactory &decoders,
        QWidget *parent = nullptr);
    ~Frm() override;

    CutSession &session() const { return m_session; }
    FrmA *aboutBox() const { return m_about; }

    /// Shows step \a n (1 to 3): its pane the only visible one, its indicator the only enabled one.
    void showStep(int n);

protected:
    void closeEvent(QCloseEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void buildControls(const AudioDecoderFactory &decoders);
    void connectControls();
    void formLoad();
    /// Shows what the session holds.
    void showState();
    void showProposal(std::optional<ChorusProposal> proposal);
    /// Keeps the marks of the cut that has just opened step three, for the song's waveform.
    void rememberCut();
    void showAbout();
    /// The buttons of step three sit where the end button of step two was: the second click of
    /// a double-click on that button must not reach them.
    bool soonAfterStepChange() const;
    /// Asks the session for \a intent, unless the step has only just changed.
    void unlessJustShown(void (CutSession::*intent)());
    /// The one local file that \a event carries, when a song may be chosen now; empty otherwise.
    QString droppableSong(const QDropEvent *event) const;
    /// Accepts \a event as a copy (or a link), never as a move; false when it is refused.
    bool takeAsCopy(QDropEvent *event) const;

    CutSession &m_session;
    ProcessStarter &m_processes;

    std::array<QGroupBox *, 3> m_panes{};
    std::array<QPushButton *, 3> m_stepIndicators{};
    QPushButton *m_aboutButton = nullptr;
    StyledButton *m_browseButton = nullptr;
    QLineEdit *m_sourceBox = nullptr;
    StyledButton *m_chooseAgainButton = nullptr;
    TransportBar *m_songBar = nullptr;
    /// Shown while the song has a proposed stretch, which it takes.
    StyledButton *m_proposalButton = nullptr;
    ChorusFinder *m_chorusFinder = nullptr;
    /// The stretch proposed for the song, as the finder gave it.
    std::optional<ChorusProposal> m_proposal;
    StyledButton *m_markStartButton = nullptr;
    StyledButton *m_markEndButton = nullptr;
    QLabel *m_statusLabel = nullptr;
    TransportBar *m_pieceBar = nullptr;
    PieceView *m_pieceView = nullptr;
    QCheckBox *m_loopBox = nullptr;
    /// Whether the piece is the song's sound from mark to mark.
    QLabel *m_checkLine = nullptr;
    StyledButton *m_saveButton = nullptr;
    StyledButton *m_recutButton = nullptr;
    StyledButton *m_continueButton = nullptr;
    QCheckBox *m_fadeInBox = nullptr;
    QCheckBox *m_fadeOutBox = nullptr;
    QCheckBox *m_maxVolumeBox = nullptr;
    /// Says when the fades are shorter than asked.
    QLabel *m_fadeNote = nullptr;
    /// Mirrors of the session's sizes, hidden as they always were.
    std::array<QLineEdit *, 3> m_sizeBoxes{};
    QLineEdit *m_outputFolderBox = nullptr;
    QTimer *m_durationTimer = nullptr;

    /// The last cut that reached step three: the song it was cut from and the stretch it kept.
    /// Only the song's waveform reads it, to shade that stretch when the song shows again.
    struct ShownCut
    {
        QString song;
        TimeWindow kept;
    };
    std::optional<ShownCut> m_lastCut;

    QElapsedTimer m_sinceStepChange;
    /// Parentless on purpose: the About box is a window of its own, not one the main
    /// window owns; the main window still closes and deletes it when it goes.
    QPointer<FrmA> m_about;
};
