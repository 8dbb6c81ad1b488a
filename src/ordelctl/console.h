#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QString>

// The program's three standard streams. Results and JSON go to standard
// output; progress, questions and errors to standard error, so that standard
// output stays clean for a script.
class Console
{
public:
    static void Out(const QByteArray &bytes);
    static void Out(const QString &text);
    static void Error(const QString &text);

    static bool InIsTerminal();
    static bool OutIsTerminal();
    static bool ErrorIsTerminal();
    // The width of the terminal on standard error; a common default when
    // it cannot be told.
    static int ErrorWidth();
    // Its height in lines, likewise.
    static int ErrorHeight();
};

#endif // CONSOLE_H
