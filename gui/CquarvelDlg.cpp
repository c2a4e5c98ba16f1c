#include "gui/CquarvelDlg.h"

#include <QGuiApplication>
#include <QScreen>

#include "gui/DialogBuilder.h"
#include "res/Dialog102.h"

CquarvelDlg::CquarvelDlg(const platform::Clock& clock, QWidget* parent)
    : QDialog(parent), m_user(this), m_run(m_user, clock, InstallStore(InstallStore::DefaultPath())) {
    setObjectName(QStringLiteral("CquarvelDlg"));
    BuildDialogFromTemplate(*this, kDialog102);
    // The run's dialogs and message boxes centre on their owner: put the
    // owner in the middle of the screen although it is never shown.
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }
}

int CquarvelDlg::DoModal() {
    setResult(QDialog::Rejected);
    OnInitDialog();
    return result();
}

bool CquarvelDlg::OnInitDialog() {
    m_run.EmptyRunReport();
    m_outcome = m_run.RunSelectedJob();
    // The run is over on every path: close the dialog.
    done(QDialog::Accepted);
    return true;
}
