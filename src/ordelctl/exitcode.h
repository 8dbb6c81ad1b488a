#ifndef EXITCODE_H
#define EXITCODE_H

// What the program's exit code tells a script, as its help lists them.
namespace ExitCode {

// Every camera succeeded or was sent the command.
constexpr int succeeded = 0;
// At least one camera failed or was interrupted, the question was answered
// no, or a stream could not be written.
constexpr int failed = 1;
// A usage or input error: nothing was sent.
constexpr int usage = 2;
// A shell's convention: a program ended by signal N exits with 128 + N.
constexpr int signalBase = 128;

} // namespace ExitCode

#endif // EXITCODE_H
