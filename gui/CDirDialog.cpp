#include "gui/CDirDialog.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QTreeView>
#include <QVBoxLayout>

#include "gui/QtText.h"

bool CDirDialog::OnSelectionChanged(const std::string& path) {
    (void)path;
    return true;
}

bool CDirDialog::ChooseFolder() {
    QFileSystemModel model;
    model.setFilter(QDir::Dirs | QDir::NoDotAndDotDot);
    model.setRootPath(QStringLiteral("/"));

    QDialog dialog(nullptr, Qt::Dialog | Qt::WindowStaysOnTopHint);
    dialog.setObjectName(QStringLiteral("folderPicker"));
    if (!captionText.empty()) dialog.setWindowTitle(ToQString(captionText));

    auto* prompt = new QLabel(promptText.empty() ? QStringLiteral("Open") : ToQString(promptText), &dialog);
    prompt->setObjectName(QStringLiteral("folderPrompt"));
    prompt->setWordWrap(true);

    auto* tree = new QTreeView(&dialog);
    tree->setObjectName(QStringLiteral("folderTree"));
    tree->setModel(&model);
    tree->setHeaderHidden(true);
    for (int column = 1; column < model.columnCount(); ++column) tree->hideColumn(column);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    // Room for the window title and a few levels of folders.
    const QFontMetrics metrics = tree->fontMetrics();
    tree->setMinimumSize(metrics.averageCharWidth() * 52, metrics.height() * 16);
    // The whole file system is there, but the picker opens at the top of
    // the user's own tree: the home folder opened, at the top of the view,
    // with the keyboard's cursor on it and nothing selected. Nothing of an
    // earlier browse is remembered.
    const QModelIndex home = model.index(QDir::homePath());
    for (QModelIndex folder = home; folder.isValid(); folder = folder.parent()) tree->expand(folder);
    tree->selectionModel()->setCurrentIndex(home, QItemSelectionModel::NoUpdate);
    // Folders are listed in the background and push the home folder down as
    // they come in: keep it in view until the user moves elsewhere.
    const QPersistentModelIndex homeRow(home);
    const auto showHome = [tree, homeRow] {
        if (tree->currentIndex() == homeRow) tree->scrollTo(homeRow, QAbstractItemView::PositionAtTop);
    };
    QObject::connect(&model, &QFileSystemModel::directoryLoaded, tree, showHome);
    QObject::connect(&model, &QFileSystemModel::rowsInserted, tree, showHome);
    QObject::connect(&model, &QFileSystemModel::layoutChanged, tree, showHome);
    QTimer::singleShot(0, tree, showHome);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->setObjectName(QStringLiteral("folderButtons"));
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setObjectName(QStringLiteral("folderOk"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("folderCancel"));
    // Nothing is selected yet, so there is nothing to choose.
    ok->setEnabled(false);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    // The selection, not the cursor: the tree puts its cursor on the first
    // folder when it gets the focus, which chooses nothing.
    const auto selectedFolder = [tree] {
        const QModelIndexList rows = tree->selectionModel()->selectedRows();
        return rows.isEmpty() ? QModelIndex() : rows.front();
    };
    QObject::connect(
        tree->selectionModel(), &QItemSelectionModel::selectionChanged, &dialog, [this, &model, ok, selectedFolder] {
            const QModelIndex selected = selectedFolder();
            ok->setEnabled(selected.isValid() && OnSelectionChanged(ToStdString(model.filePath(selected))));
        });

    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(prompt);
    layout->addWidget(tree, 1);
    layout->addWidget(buttons);

    // Centred on the screen by its own default size, then made 25 pixels
    // wider and 60 taller, so the tree has room.
    const QSize defaultSize = dialog.sizeHint();
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect screenArea = screen ? screen->geometry() : QRect(0, 0, defaultSize.width(), defaultSize.height());
    dialog.move(screenArea.x() + (screenArea.width() - defaultSize.width()) / 2,
                screenArea.y() + (screenArea.height() - defaultSize.height()) / 2);
    dialog.resize(defaultSize.width() + 25, defaultSize.height() + 60);

    if (dialog.exec() != QDialog::Accepted) return false;
    const QModelIndex chosen = selectedFolder();
    if (!chosen.isValid()) return false;
    chosenPath = ToStdString(model.filePath(chosen));
    return !chosenPath.empty();
}
