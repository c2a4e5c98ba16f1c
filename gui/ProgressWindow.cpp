#include "gui/ProgressWindow.h"

#include <QCloseEvent>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "gui/QtText.h"

namespace {
constexpr int kFolderWidthInChars = 60;
}

ProgressWindow::ProgressWindow(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowStaysOnTopHint),
      m_bar(new QProgressBar(this)),
      m_count(new QLabel(this)),
      m_timeLeft(new QLabel(this)),
      m_folder(new QLabel(this)),
      m_stop(new QPushButton(QStringLiteral("&Stop"), this)) {
    setObjectName(QStringLiteral("progressWindow"));
    setWindowTitle(QStringLiteral("Quarvel"));
    // Input reaches this window only; the job's own windows wait for it to end.
    setWindowModality(Qt::ApplicationModal);
    m_bar->setObjectName(QStringLiteral("progressBar"));
    m_bar->setTextVisible(false);
    m_count->setObjectName(QStringLiteral("progressCount"));
    m_timeLeft->setObjectName(QStringLiteral("progressTimeLeft"));
    m_timeLeft->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_folder->setObjectName(QStringLiteral("progressFolder"));
    m_folder->setFixedWidth(QFontMetrics(font()).averageCharWidth() * kFolderWidthInChars);
    m_stop->setObjectName(QStringLiteral("progressStop"));
    m_stop->setAutoDefault(false);
    connect(m_stop, &QPushButton::clicked, this, [this] { RequestStop(); });

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_stop);
    auto* counts = new QHBoxLayout;
    counts->addWidget(m_count);
    counts->addStretch(1);
    counts->addWidget(m_timeLeft);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_bar);
    layout->addLayout(counts);
    layout->addWidget(m_folder);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    Update(DescribeProgress(0, kTotalUnknown, {}), std::string());
}

void ProgressWindow::Update(const ProgressView& view, const std::string& currentFolder) {
    // Without a total the bar is busy; with one it fills.
    if (view.total == kTotalUnknown) {
        m_bar->setRange(0, 0);
    } else {
        m_bar->setRange(0, view.total);
        m_bar->setValue(view.done);
    }
    m_count->setText(ToQString(view.count));
    m_timeLeft->setText(ToQString(view.timeLeft));
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
        m_stop->setFocus();
    }
}

void ProgressWindow::RequestStop() {
    if (m_stopRequested) return;
    m_stopRequested = true;
    // The bundle in hand is finished first; say so until the job ends.
    m_stop->setEnabled(false);
    m_stop->setText(QStringLiteral("Stopping..."));
}

void ProgressWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        RequestStop();
        return;
    }
    QWidget::keyPressEvent(event);
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    // Closing the window asks for a stop; the job hides it when it ends.
    event->ignore();
    RequestStop();
}
