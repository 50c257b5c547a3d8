#pragma once

#include "app/mainwindowstate.h"
#include "about/frma.h"
#include "app/platform.h"

#include <QPointer>
#include <QWidget>

#include <array>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;
class RangeCopier;
class StyledButton;


/// The main window: a three-step wizard over the cut of one MP3 file.
class Frm : public QWidget
{
    Q_OBJECT
public:
    explicit Frm(Platform platform, QWidget *parent = nullptr);
    ~Frm() override;

    const MainWindowState &state() const { return m_state; }
    /// True from the moment a cut starts copying until its pieces are settled.
    bool cutRunning() const { return m_copier != nullptr; }
    FrmA *aboutBox() const { return m_about; }

    /// Shows step \a n (1 to 3): its pane the only visible one, its indicator the only enabled one.
    void showStep(int n);

    void refreshDuration();
    void chooseSource();
    void markStart();
    void cutRange();
    void savePiece();
    void recutPiece();
    void reselect();
    void continueCutting();
    void showAbout();

signals:
    /// A cut has ended; \a ok is false when it failed or was abandoned.
    void cutEnded(bool ok);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildControls();
    void formLoad();
    std::array<QString, 3> sizeBoxes() const;
    void setSizeBoxes(const std::array<QString, 3> &texts);
    bool buildSplitPlan();
    void alignKeptPieceToFrame(QList<qint32> &sizes);
    /// Takes the player's duration and its position as \a mark; false, having told the user,
    /// when the player cannot say where it is in the loaded file.
    bool readPlayer(QString &mark);
    void finishCut(bool ok, const QString &failedPath, bool sourceFailed);
    QString keptPieceName() const;
    void showError(const QString &text);

    MainWindowState m_state;
    Platform m_platform;
    MediaPlayer *m_mdplay = nullptr;
    MediaPlayer *m_mdst = nullptr;

    std::array<QGroupBox *, 3> m_fm{};
    std::array<QPushButton *, 3> m_cmdx{};
    QPushButton *m_dcButton4 = nullptr;
    StyledButton *m_cmdBrowseS = nullptr;
    QLineEdit *m_txtSource = nullptr;
    StyledButton *m_dcButton1 = nullptr;
    StyledButton *m_cmdQ = nullptr;
    StyledButton *m_command1 = nullptr;
    QLabel *m_lb = nullptr;
    StyledButton *m_dcButton2 = nullptr;
    StyledButton *m_dcButton3 = nullptr;
    StyledButton *m_dcButton5 = nullptr;
    std::array<QLineEdit *, 3> m_txtSplit{};
    QLineEdit *m_txtDestdir = nullptr;
    QTimer *m_timer1 = nullptr;

    RangeCopier *m_copier = nullptr;
    /// Parentless on purpose: the About box is a window of its own, not one the main
    /// window owns; the main window still closes and deletes it when it goes.
    QPointer<FrmA> m_about;
};
