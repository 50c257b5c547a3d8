#include "frm.h"

#include "about/frma.h"
#include "app/frmtexts.h"
#include "cut/rangecopier.h"
#include "platform/fonts.h"
#include "platform/styledbutton.h"
#include "platform/twips.h"

#include <QCloseEvent>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

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
    return button;
}

void placePlayer(MediaPlayer *player, const QString &name, QWidget *pane, const QRect &where)
{
    player->setParent(pane);
    player->setObjectName(name);
    player->setGeometry(where);
}

} // namespace

Frm::Frm(Platform platform, QWidget *parent)
    : QWidget(parent)
    , m_platform(std::move(platform))
    , m_mdplay(m_platform.mdplay)
    , m_mdst(m_platform.mdst)
{
    buildControls();
    formLoad();
}

Frm::~Frm()
{
    delete m_about;
}

void Frm::buildControls()
{
    setObjectName(QStringLiteral("Frm"));
    setWindowTitle(FrmText::title);
    setWindowIcon(QIcon(QStringLiteral(":/mp3cutter.png")));
    setFixedSize(481, 302);
    // The layout is fixed, so the window offers no maximise button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    for (int i = 0; i < 3; ++i) {
        m_fm[i] = new QGroupBox(FrmText::pane[i], this);
        m_fm[i]->setObjectName(QStringLiteral("FM(%1)").arg(i));
        m_fm[i]->setGeometry(twips(0, 0, 7215, 3855));
        m_fm[i]->setVisible(i == 0);

        m_cmdx[i] = new QPushButton(FrmText::step[i], this);
        m_cmdx[i]->setObjectName(QStringLiteral("Cmdx(%1)").arg(i));
        m_cmdx[i]->setGeometry(twips(1920 * i, 3880, 1935, 615));
        m_cmdx[i]->setEnabled(i == 0);
    }
    m_dcButton4 = new QPushButton(FrmText::about, this);
    m_dcButton4->setObjectName(QStringLiteral("dcButton4"));
    m_dcButton4->setGeometry(twips(5760, 3880, 1455, 615));

    // Step 1
    auto *label1 = new QLabel(FrmText::chooseLabel, m_fm[0]);
    label1->setObjectName(QStringLiteral("Label1"));
    label1->setGeometry(twips(360, 480, 1455, 255));
    m_cmdBrowseS = styledButton(QStringLiteral("cmdBrowseS"), FrmText::browse, m_fm[0],
                                twips(1800, 1080, 3855, 1935), lightGreen, 15.75);

    // Step 2
    auto *label4 = new QLabel(FrmText::sourceLabel, m_fm[1]);
    label4->setObjectName(QStringLiteral("Label4"));
    label4->setGeometry(twips(240, 480, 975, 255));
    m_txtSource = new QLineEdit(m_fm[1]);
    m_txtSource->setObjectName(QStringLiteral("txtSource"));
    m_txtSource->setGeometry(twips(1200, 360, 4455, 375));
    m_txtSource->setEnabled(false);
    m_dcButton1 = styledButton(QStringLiteral("dcButton1"), FrmText::reselect, m_fm[1],
                               twips(5760, 360, 1215, 375), paleGrey);
    placePlayer(m_mdplay, QStringLiteral("MDplay"), m_fm[1], twips(120, 840, 6960, 2115));
    m_cmdQ = styledButton(QStringLiteral("cmdQ"), FrmText::markStart, m_fm[1], twips(240, 3000, 2535, 735), paleYellow);
    m_command1 = styledButton(QStringLiteral("Command1"), FrmText::markEnd, m_fm[1], twips(2760, 3000, 2895, 735),
                              paleYellow);
    m_lb = new QLabel(m_fm[1]);
    m_lb->setObjectName(QStringLiteral("lb"));
    m_lb->setGeometry(twips(5880, 3000, 1215, 615));
    m_lb->setFont(cjkFont(QStringLiteral("宋体"), 10.5, true));
    m_lb->setWordWrap(true);

    // Step 3
    placePlayer(m_mdst, QStringLiteral("MDst"), m_fm[2], twips(0, 240, 7200, 2715));
    m_dcButton2 = styledButton(QStringLiteral("dcButton2"), FrmText::save, m_fm[2], twips(240, 3120, 2295, 615), paleGrey);
    m_dcButton3 = styledButton(QStringLiteral("dcButton3"), FrmText::recut, m_fm[2], twips(2520, 3120, 2295, 615),
                               paleGrey);
    m_dcButton5 = styledButton(QStringLiteral("dcButton5"), FrmText::continueCutting, m_fm[2],
                               twips(4800, 3120, 2175, 615), paleGrey);

    // Value holders the user never sees, parked below the client area.
    auto *frame1 = new QWidget(this);
    frame1->setObjectName(QStringLiteral("Frame1"));
    frame1->setGeometry(0, 320, 300, 30);
    frame1->hide();
    for (int i = 0; i < 3; ++i) {
        m_txtSplit[i] = new QLineEdit(QStringLiteral("0"), frame1);
        m_txtSplit[i]->setObjectName(QStringLiteral("txtSplit(%1)").arg(i));
        m_txtSplit[i]->setMaxLength(8);
    }
    auto *frame2 = new QWidget(this);
    frame2->setObjectName(QStringLiteral("Frame2"));
    frame2->setGeometry(0, 360, 300, 30);
    frame2->hide();
    m_txtDestdir = new QLineEdit(frame2);
    m_txtDestdir->setObjectName(QStringLiteral("txtDestdir"));
    m_txtDestdir->setEnabled(false);

    m_timer1 = new QTimer(this);
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(1000);
    connect(m_timer1, &QTimer::timeout, this, &Frm::refreshDuration);
    m_timer1->start();

    connect(m_cmdBrowseS, &QPushButton::clicked, this, &Frm::chooseSource);
    connect(m_dcButton1, &QPushButton::clicked, this, &Frm::reselect);
    connect(m_cmdQ, &QPushButton::clicked, this, &Frm::markStart);
    connect(m_command1, &QPushButton::clicked, this, &Frm::cutRange);
    connect(m_dcButton2, &QPushButton::clicked, this, &Frm::savePiece);
    connect(m_dcButton3, &QPushButton::clicked, this, &Frm::recutPiece);
    connect(m_dcButton5, &QPushButton::clicked, this, &Frm::continueCutting);
    connect(m_dcButton4, &QPushButton::clicked, this, &Frm::showAbout);
}

void Frm::formLoad()
{
    m_platform.processes->startMinimized(FrmText::registerDialogs);
    m_platform.processes->startMinimized(FrmText::registerButtons);
    m_platform.cmmDlg->setFilter(FrmText::openFilter);
}

void Frm::refreshDuration()
{
    if (const auto d = m_mdplay->duration())
        m_state.duration = *d;
}

void Frm::showStep(int n)
{
    const int t = n - 1;
    const int a = t == 0 ? 1 : 0;
    const int b = t == 2 ? 1 : 2;
    m_fm[a]->setVisible(false);
    m_fm[b]->setVisible(false);
    m_fm[t]->setVisible(true);
    m_cmdx[a]->setEnabled(false);
    m_cmdx[b]->setEnabled(false);
    m_cmdx[t]->setEnabled(true);
}

void Frm::reselect()
{
    showStep(1);
    m_mdplay->stop();
}

void Frm::continueCutting()
{
    m_mdst->setUrl(QString());
    showStep(1);
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
    // A cut still copying is abandoned with its pieces, so no half-written file is left
    // behind looking like a result.
    if (m_copier) {
        delete m_copier;
        m_copier = nullptr;
        unsetCursor();
        emit cutEnded(false);
    }
    if (m_about)
        m_about->close();
    event->accept();
}

std::array<QString, 3> Frm::sizeBoxes() const
{
    return {m_txtSplit[0]->text(), m_txtSplit[1]->text(), m_txtSplit[2]->text()};
}

void Frm::setSizeBoxes(const std::array<QString, 3> &texts)
{
    for (int i = 0; i < 3; ++i)
        m_txtSplit[i]->setText(texts[i]);
}

void Frm::showError(const QString &text)
{
    m_platform.messages->show(this, text, MessageBox::Icon::Error, FrmText::captionError);
}
