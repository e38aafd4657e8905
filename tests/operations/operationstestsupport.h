#pragma once

// The pieces the installation, removal and reset tests share: a stand-in environment with the
// default hosts, the real window listing it, and shortcuts for packages, drops and selections.

#include "inventory/hostcatalogue.h"
#include "mainwindowaccess.h"
#include "modalboxwatcher.h"
#include "standin.h"
#include "testenvironment.h"

#include <QDropEvent>
#include <QMimeData>
#include <QtTest>
#include <functional>
#include <memory>

// Runs a step whose checks end it early, and ends the test too if one of them failed.
#define RETURN_IF_FAILED(step)                                                                     \
    do {                                                                                           \
        step;                                                                                      \
        if (QTest::currentTestFailed())                                                            \
            return;                                                                                \
    } while (false)

namespace OperationsTest {

const QString Success =
    QStringLiteral("Installation was successful! Please restart Adobe application if it's open "
                   "before usage.");

// Environment first, then the watcher, then the window: the window's first listing may already
// show a box, and the window must go before the environment it lists.
struct Session
{
    TestEnvironment env;
    bool prepared = StandIn::prepareEnvironment(env.root());
    ModalBoxWatcher watcher;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<MainWindowAccess> in;

    // Builds, shows and lists the window, as the program's start does.
    void open()
    {
        externalToolEntry = QStringLiteral("none");
        setExternalToolPathForTesting(env.scratch() + QStringLiteral("/no-agent/Agent"));
        window.reset(new MainWindow);
        in.reset(new MainWindowAccess(*window));
        window->show();
        window->startUp(QString());
        in->waitForScan();
    }

    // A signed package for the given products (product names as .mxi manifests use them).
    QString package(const QString &fileName, const QString &name,
                    const QStringList &products = {QStringLiteral("Photoshop")},
                    bool signature = true, const QString &updateUrl = QString()) const
    {
        StandIn::SamplePackage sample;
        sample.manifest = StandIn::ManifestKind::Mxi;
        sample.name = name;
        sample.version = QStringLiteral("1.0");
        for (const QString &product : products)
            sample.hosts << StandIn::SampleHost{product, QString()};
        sample.signature = signature;
        sample.updateUrl = updateUrl;
        const QString path = env.scratch() + QLatin1Char('/') + fileName;
        return StandIn::buildSamplePackage(path, sample) ? path : QString();
    }

    // Installs the package through the tool, as if the user had done it before.
    bool installThrough(StandIn::Generation generation, const QString &path) const
    {
        return StandIn::installPackage(env.root(), generation, path)
            .contains(QStringLiteral("successful"));
    }

    QStringList installedNames(StandIn::Generation generation) const
    {
        QStringList names;
        const QList<StandIn::InstalledExtension> rows =
            StandIn::installedExtensions(env.root(), generation);
        for (const StandIn::InstalledExtension &row : rows)
            names << row.name;
        return names;
    }

    // No installation running and none waiting, after every box was answered.
    bool idle() const
    {
        return QTest::qWaitFor([this] {
            return !in->installingRun() && in->pendingInstallations().isEmpty() &&
                   !in->removingRun();
        });
    }

    // The given number of boxes answered, then nothing left running.
    void settle(int answeredBoxes)
    {
        QVERIFY(watcher.waitForAnsweredBoxes(answeredBoxes));
        QVERIFY(idle());
    }

    QString selectedHost() const
    {
        const QList<QListWidgetItem *> items = in->ui()->listWidget->selectedItems();
        return items.isEmpty() ? QString() : items.first()->text();
    }

    bool selectHost(const QString &name) const
    {
        const QList<QListWidgetItem *> items =
            in->ui()->listWidget->findItems(name, Qt::MatchExactly);
        if (items.isEmpty())
            return false;
        in->ui()->listWidget->setCurrentItem(items.first());
        return selectedHost() == name;
    }

    QStringList tableNames() const
    {
        QStringList names;
        const QTableWidget *table = in->ui()->tableWidget;
        for (int row = 0; row < table->rowCount(); ++row)
            names << (table->item(row, 1) ? table->item(row, 1)->text() : QString());
        return names;
    }

    int tableRow(const QString &name) const { return tableNames().indexOf(name); }

    // Marks the host list's items, so a later rebuild (fresh items) can be told apart; comparing
    // item pointers cannot, as a new item may be given the freed address of an old one.
    void markHostList() const
    {
        for (int row = 0; row < in->ui()->listWidget->count(); ++row)
            in->ui()->listWidget->item(row)->setData(Qt::UserRole, QStringLiteral("listed before"));
    }
    bool hostListRebuilt() const
    {
        const QListWidgetItem *first = in->ui()->listWidget->item(0);
        return !first || first->data(Qt::UserRole).toString() != QLatin1String("listed before");
    }
};

// Runs a function for every message box the moment it is shown, before the watcher (installed
// earlier) answers it.
class MessageBoxShowHook : public QObject
{
public:
    explicit MessageBoxShowHook(std::function<void(QMessageBox *)> onShow)
        : m_onShow(std::move(onShow))
    {
        qApp->installEventFilter(this);
    }
    ~MessageBoxShowHook() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Show) {
            if (auto *box = qobject_cast<QMessageBox *>(watched))
                m_onShow(box);
        }
        return false;
    }

private:
    std::function<void(QMessageBox *)> m_onShow;
};

// What a drag from a file manager delivers when it is let go over the window.
inline void drop(QWidget &target, const QList<QUrl> &urls)
{
    QMimeData mime;
    mime.setUrls(urls);
    // The application delivers a drop only to the widget that accepted the drag's entry.
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    QDropEvent event(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &event);
}

inline QStringList texts(const QList<ModalBoxWatcher::Box> &boxes)
{
    QStringList list;
    for (const ModalBoxWatcher::Box &box : boxes)
        list << box.text;
    return list;
}

inline QStringList informativeTexts(const QList<ModalBoxWatcher::Box> &boxes)
{
    QStringList list;
    for (const ModalBoxWatcher::Box &box : boxes)
        list << box.informativeText;
    return list;
}

// Wait boxes (no buttons) with the given title, in the order they were shown.
inline QList<ModalBoxWatcher::Box> waitBoxes(const ModalBoxWatcher &watcher, const QString &title)
{
    QList<ModalBoxWatcher::Box> list;
    for (const ModalBoxWatcher::Box &box : watcher.boxes()) {
        if (!box.hasButtons && box.title == title)
            list << box;
    }
    return list;
}

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace OperationsTest
