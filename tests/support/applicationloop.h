#ifndef APPLICATIONLOOP_H
#define APPLICATIONLOOP_H

// The application's own event loop, as main() runs it, for tests of what ends
// the application: quitting from the main window, however deep an update's
// waits are.
namespace ApplicationLoop {

// Runs QApplication::exec() until something ends it, or until timeoutMs have
// passed, when it is ended with timeoutCode; returns the loop's exit code.
int Run(int timeoutMs, int timeoutCode);

} // namespace ApplicationLoop

#endif // APPLICATIONLOOP_H
