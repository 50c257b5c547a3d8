#include "frma.h"

#include "gui/fonts.h"
#include "gui/frmtexts.h"
#include "gui/icons.h"
#include "gui/styledbutton.h"
#include "gui/twips.h"

#include <QLabel>

namespace {

QLabel *label(const QString &name, const QString &text, QWidget *parent, const QRect &where)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(name);
    l->setGeometry(where);
    return l;
}

} // namespace

FrmA::FrmA(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("FrmA"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(FrmText::title);
    setWindowIcon(programIcon());
    setFixedSize(twips(0, 0, 4290, 2490).size());

    // Created in tab order.
    // The title spans the box and centres itself: a face a little wider or narrower than the one
    // it was laid out for stays in the middle.
    auto *title = label(QStringLiteral("Label1"), FrmText::title, this, twips(0, 120, 4290, 495));
    title->setFont(cjkFont(QStringLiteral("宋体-PUA"), 18, true));
    title->setAlignment(Qt::AlignCenter);
    label(QStringLiteral("Label2"), FrmText::aboutDescription, this, twips(240, 720, 4215, 255));
    label(QStringLiteral("Label4"), FrmText::aboutLicence, this, twips(600, 1440, 3495, 255));
    label(QStringLiteral("Label6"), FrmText::aboutVersion.arg(QStringLiteral(PROJECT_VERSION)), this,
          twips(600, 1080, 2895, 255));

    auto *ok = new StyledButton(QStringLiteral("确定"), this);
    ok->setObjectName(QStringLiteral("Command2"));
    ok->setGeometry(twips(360, 1920, 3375, 495));
    ok->setBackground(QColor(236, 235, 230));
    ok->setFont(cjkFont(QStringLiteral("宋体"), 9));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QWidget::close);
}
