#include "gui/CquarvelApp.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "gui/CquarvelDlg.h"
#include "platform/Clock.h"

namespace {

// The program's icon, drawn rather than shipped: a white Q on a blue tile.
QIcon MakeProgramIcon() {
    QIcon icon;
    for (const int size : {16, 32, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setBrush(QColor(0x1f, 0x5f, 0xa8));
        painter.setPen(Qt::NoPen);
        painter.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        QFont font = painter.font();
        font.setBold(true);
        font.setPixelSize(size * 3 / 4);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("Q"));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace

bool CquarvelApp::InitInstance() {
    // Dialogs come and go during the run; the run, not the last closed
    // window, decides when the program ends.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setApplicationName(QStringLiteral("Quarvel"));
    QApplication::setWindowIcon(MakeProgramIcon());

    platform::SystemClock clock;
    CquarvelDlg dialog(clock);
    dialog.DoModal();
    m_exitStatus = dialog.outcome() == RunOutcome::NotStarted ? 1 : 0;
    return false;
}
