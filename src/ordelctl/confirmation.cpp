#include "confirmation.h"

#include "console.h"
#include "textformat.h"

#include <QSocketNotifier>

#include <unistd.h>

namespace {

constexpr int readSize = 256;

} // namespace

Confirmation::Confirmation(QObject *parent)
    : QObject(parent)
{
}

bool Confirmation::CanAsk()
{
    return Console::InIsTerminal();
}

void Confirmation::Ask(const QString &question)
{
    Console::Error(TextFormat::ForTerminal(question) + QStringLiteral(" [y/N] "));
    line.clear();
    notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &Confirmation::ReadAnswer);
}

void Confirmation::ReadAnswer()
{
    char buffer[readSize];
    const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (got <= 0) {
        Console::Error(QStringLiteral("\n"));
        Answer(false);
        return;
    }
    line.append(buffer, int(got));
    const int end = line.indexOf('\n');
    if (end < 0)
        return;
    const QByteArray answer = line.left(end).trimmed().toLower();
    Answer(answer == "y" || answer == "yes");
}

void Confirmation::Answer(bool yes)
{
    notifier->setEnabled(false);
    notifier->deleteLater();
    notifier = nullptr;
    emit answered(yes);
}
