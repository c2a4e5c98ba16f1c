#include "app/ProgressWindow.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "app/QtText.h"

namespace {
constexpr int kFolderWidthInChars = 60;
}

ProgressWindow::ProgressWindow(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_count(new QLabel(this)),
      m_folder(new QLabel(this)) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QStringLiteral("Quarvel"));
    m_count->setObjectName(QStringLiteral("progressCount"));
    m_folder->setObjectName(QStringLiteral("progressFolder"));
    m_folder->setFixedWidth(QFontMetrics(font()).averageCharWidth() * kFolderWidthInChars);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_count);
    layout->addWidget(m_folder);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Update(0, std::string());
}

void ProgressWindow::Update(int done, const std::string& currentFolder) {
    m_count->setText(QStringLiteral("Done so far: %1").arg(done));
    const QString folder = ToQString(currentFolder);
    // Long paths lose their middle, so both the top and the bundle stay readable.
    m_folder->setText(QFontMetrics(m_folder->font()).elidedText(folder, Qt::ElideMiddle, m_folder->width()));
    m_folder->setToolTip(folder);
    if (!isVisible()) {
        adjustSize();
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
        }
        show();
    }
}
