#ifndef CONSOLE_H
#define CONSOLE_H

#include <QByteArray>
#include <QString>

// The program's three standard streams. Results and JSON go to standard
// output; progress, questions and errors to standard error, so that standard
// output stays clean for a script.
//
// Nothing here waits for a reader: a writer thread per stream takes what is
// printed, so that a pager not scrolled or a terminal stopped with Ctrl-S
// never holds up the cameras' timers. What a stream cannot take yet is kept,
// in order, until Finish().
class Console
{
public:
    // Kept however far the reader falls behind: results, errors, questions.
    static void Out(const QByteArray &bytes);
    static void Out(const QString &text);
    static void Error(const QString &text);
    // Live progress, whole lines: dropped, and false returned, while the
    // stream's reader is far behind, so that what is kept stays bounded.
    static bool OutProgress(const QByteArray &bytes);
    static bool ErrorProgress(const QString &text);
    // Waits until every stream has taken all that was kept, however long its
    // reader takes. Returns exitCode, or 1 for 0 when a stream could not be
    // written, which has been said on standard error.
    static int Finish(int exitCode);

    static bool InIsTerminal();
    static bool OutIsTerminal();
    static bool ErrorIsTerminal();
    // The width of the terminal on standard error; a common default when
    // it cannot be told.
    static int ErrorWidth();
    // Its height in lines, likewise.
    static int ErrorHeight();
    // The width of the terminal on standard output; 0 when it is none, as
    // for a file or a pipe, whose reader wants every value whole.
    static int OutWidth();
};

#endif // CONSOLE_H
