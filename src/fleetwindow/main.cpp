#include "fleetwindow.h"
#include "journal.h"

#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("ordel-toolkits"));
    QApplication::setApplicationName(QStringLiteral("ordel-fleet"));
    QApplication::setApplicationVersion(QStringLiteral(ORDEL_FLEET_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Updates many networked cameras side by side, from a window."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption image(QStringLiteral("image"),
        QStringLiteral("The firmware image to send."), QStringLiteral("FILE"));
    const QCommandLineOption version(QStringLiteral("fw-version"),
        QStringLiteral("The version the image installs, as cameras report it."),
        QStringLiteral("V"));
    const QCommandLineOption journal(QStringLiteral("journal"),
        QStringLiteral("The journal to write and read, instead of the usual one."),
        QStringLiteral("FILE"));
    const QCommandLineOption noJournal(
        QStringLiteral("no-journal"), QStringLiteral("Runs without a journal."));
    parser.addOptions({ image, version, journal, noJournal });
    parser.process(application);
    if (parser.isSet(journal) && parser.isSet(noJournal)) {
        std::fputs("ordel-fleet: --journal and --no-journal exclude each other\n", stderr);
        return 2;
    }

    FleetWindow window;
    if (parser.isSet(noJournal))
        window.SetJournalPath(QString());
    else if (parser.isSet(journal))
        window.SetJournalPath(parser.value(journal));
    if (parser.isSet(version))
        window.SetTargetVersion(parser.value(version));
    if (parser.isSet(image))
        window.SetImagePath(parser.value(image));
    window.show();
    return application.exec();
}
