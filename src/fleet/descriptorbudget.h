#ifndef DESCRIPTORBUDGET_H
#define DESCRIPTORBUDGET_H

#include <QString>

// The process's open files, shared by every camera in flight. A socket the
// system refuses would read as a camera that did not answer, so a run starts
// no more cameras at once than the limit has room for, and a camera that runs
// short all the same gives that as its reason.
class DescriptorBudget
{
public:
    // Measured: a camera holds three while its broker connects (the
    // connection and libmosquitto's own socket pair) and four while its image
    // is sent. A command holds three; it is counted as a camera all the same.
    static constexpr int perCamera = 4;
    static constexpr int perBroker = 3;
    // For the rest of the program while the cameras run: the sockets that
    // find this host's address for a camera's request, for a moment each,
    // and what Qt and the C library open on their own.
    static constexpr int reserve = 8;
    // However many descriptors the limit leaves room for, no more cameras
    // than this are in flight at once: the most --parallel takes, and the
    // cameras a command goes to side by side in a very long list.
    static constexpr int mostAtOnce = 256;

    // Raises the soft limit on open files as far as the hard limit allows.
    // Nothing here waits with select(), whose sets end at 1024, so any
    // descriptor the system gives is usable.
    static void RaiseLimit();
    // The soft limit now.
    static int Limit();

    // The cameras a batch of the given size runs at once: at most wanted,
    // and only as many as the descriptors not yet open leave room for, but
    // at least one. Fewer than wanted (and than cameras) means the limit cut
    // the number, which the operator should hear of.
    static int CamerasAtOnce(int wanted, int cameras);

    // Whether descriptors more may stay open and still leave room for the
    // most cameras a run has in flight: what waits may hold on to a
    // connection only while no camera to come would be short for it.
    static bool MayKeep(int descriptors);

    // Whether the system error means that no descriptor was left.
    static bool IsShortage(int error);
    // Whether no descriptor can be opened now; asked at once after an open
    // failed without telling its error.
    static bool Exhausted();
    // A camera's reason for failing when purpose found no descriptor.
    static QString Shortage(const QString &purpose);

private:
    static int CamerasThatFit(int wanted, int limit, int open);
    static int OpenNow();
};

#endif // DESCRIPTORBUDGET_H
