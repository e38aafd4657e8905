#include "platform/appcastchecker.h"

#include "app/version.h"
#include "support/boundedxml.h"
#include "updates/versioncompare.h"

#include <QCoreApplication>
#include <QDomDocument>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

namespace {
constexpr char SparkleNamespace[] = "http://www.andymatuschak.org/xml-namespaces/sparkle";
constexpr int MaxAppcastBytes = 1024 * 1024;
// What the reply may hold unread: the network thread stops reading there until it is taken, so
// an oversized appcast is given up before much more than the cap is in memory.
constexpr qint64 AppcastReadBufferBytes = 64 * 1024;

// Captions share the main window's translation context, like every caption of the program.
QString caption(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

// Sparkle puts the version either on the enclosure or in an element of its own.
QString sparkleValue(const QDomElement &item, const QString &name)
{
    const QDomElement enclosure = item.firstChildElement(QStringLiteral("enclosure"));
    const QString attribute = enclosure.attributeNS(SparkleNamespace, name);
    if (!attribute.isEmpty())
        return attribute;
    return item.elementsByTagNameNS(SparkleNamespace, name).item(0).toElement().text().trimmed();
}
} // namespace

AppcastChecker::AppcastChecker(QObject *parent)
    : QObject(parent), m_currentVersion(QString::fromLatin1(Program::Version)),
      m_network(new QNetworkAccessManager(this)), m_timeout(new QTimer(this))
{
    m_timeout->setSingleShot(true);
    connect(m_timeout, &QTimer::timeout, this, [this] {
        if (m_reply)
            m_reply->abort();
    });
}

AppcastChecker::Release AppcastChecker::newestRelease(const QByteArray &appcast)
{
    Release newest;
    QDomDocument document;
    if (!setShallowContent(document, appcast, true))
        return newest;
    const QDomNodeList items = document.elementsByTagName(QStringLiteral("item"));
    for (int i = 0; i < items.count(); ++i) {
        const QDomElement item = items.at(i).toElement();
        Release release;
        release.version = sparkleValue(item, QStringLiteral("version"));
        release.displayVersion = sparkleValue(item, QStringLiteral("shortVersionString"));
        if (release.displayVersion.isEmpty())
            release.displayVersion = release.version;
        const QString link = item.firstChildElement(QStringLiteral("link")).text().trimmed();
        release.link = QUrl(link.isEmpty() ? item.firstChildElement(QStringLiteral("enclosure"))
                                                 .attribute(QStringLiteral("url"))
                                           : link);
        if (release.version.isEmpty())
            continue;
        if (newest.version.isEmpty() ||
            compareVersions(release.version.toUtf8(), newest.version.toUtf8()) > 0)
            newest = release;
    }
    return newest;
}

void AppcastChecker::check(bool interactive)
{
    if (m_reply) {
        // A silent check already running still owes an interactive answer if one is asked for.
        m_interactive = m_interactive || interactive;
        return;
    }
    m_interactive = interactive;
    QNetworkRequest request(m_feedUrl);
    request.setRawHeader("User-Agent", "Fake User");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network->get(request);
    m_reply->setReadBufferSize(AppcastReadBufferBytes);
    m_body.clear();
    connect(m_reply, &QNetworkReply::readyRead, this, &AppcastChecker::takeBody);
    connect(m_reply, &QNetworkReply::finished, this, &AppcastChecker::replyFinished);
    connect(m_reply, &QNetworkReply::downloadProgress, this, [this](qint64 received, qint64) {
        if (received > MaxAppcastBytes && m_reply)
            m_reply->abort();
        m_timeout->start(m_timeoutMs); // only a stalled check times out
    });
    m_timeout->start(m_timeoutMs);
}

void AppcastChecker::takeBody()
{
    if (!m_reply || m_body.size() > MaxAppcastBytes)
        return;
    m_body += m_reply->read(MaxAppcastBytes + 1 - m_body.size());
    if (m_body.size() > MaxAppcastBytes && !m_reply->isFinished())
        m_reply->abort();
}

void AppcastChecker::replyFinished()
{
    m_timeout->stop();
    takeBody();
    QNetworkReply *reply = m_reply;
    m_reply.clear();
    reply->deleteLater();
    const QByteArray body = m_body;
    m_body.clear();

    if (reply->error() != QNetworkReply::NoError) {
        report(Outcome::Failed, reply->errorString(), Release());
        return;
    }
    const Release newest = newestRelease(body.left(MaxAppcastBytes));
    if (newest.version.isEmpty()) {
        report(Outcome::Failed, caption("The update feed names no version."), newest);
        return;
    }
    const bool newer = compareVersions(m_currentVersion.toUtf8(), newest.version.toUtf8()) < 0;
    report(newer ? Outcome::NewerVersion : Outcome::UpToDate, newest.displayVersion, newest);
}

void AppcastChecker::report(Outcome outcome, const QString &detail, const Release &release)
{
    const bool interactive = m_interactive;
    m_interactive = false;
    emit checkFinished(outcome, detail);
    if (!interactive && outcome != Outcome::NewerVersion)
        return;

    // Not modal and not waited for: the answer may arrive while another operation waits in a
    // nested event loop, which must not be held up until the user reads it.
    auto *box = new QMessageBox;
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->setWindowTitle(caption("Check for Updates"));
    switch (outcome) {
    case Outcome::UpToDate:
        box->setIcon(QMessageBox::Information);
        box->setText(caption("You're up to date!"));
        box->setInformativeText(
            caption("Panelhold %1 is the newest version available.").arg(m_currentVersion));
        break;
    case Outcome::NewerVersion: {
        box->setIcon(QMessageBox::Information);
        box->setTextFormat(Qt::RichText);
        box->setText(caption("A new version of Panelhold is available!"));
        const QString link = release.link.toString().toHtmlEscaped();
        box->setInformativeText(
            caption("Panelhold %1 is available; you have %2.<br>"
                    "<a href=\"%3\">%3</a>")
                .arg(release.displayVersion.toHtmlEscaped(), m_currentVersion, link));
        break;
    }
    case Outcome::Failed:
        box->setIcon(QMessageBox::Warning);
        box->setText(caption("Could not check for updates."));
        box->setInformativeText(detail);
        break;
    }
    box->show();
}
