#ifndef LOSSYLINK_H
#define LOSSYLINK_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Makes the virtual LAN drop a share of the cameras' discovery replies at
// random, each reply on its own, as Wi-Fi or a busy switch does, for as long
// as the object lives. The drop is an nftables table of its own on the input
// of the tool's namespace: dropped on a camera's output, the camera's send
// would fail, which no lossy link makes it see. It acts only inside the
// lab's tool namespace, where a lab test runs, and refuses anywhere else: in
// the machine's own namespace it would be a firewall rule on a real host. A
// table left behind by a crash goes with the lab's namespace.
class LossyLink
{
public:
    explicit LossyLink(int percent);
    ~LossyLink();
    LossyLink(const LossyLink &) = delete;
    LossyLink &operator=(const LossyLink &) = delete;

    // Whether the table is in place; errorString() says why not.
    bool isLossy() const { return lossy; }
    QString errorString() const { return error; }

    // The discovery replies that reached the tool's input so far, and how
    // many of them the link dropped; -1 when nftables cannot tell.
    int replies() const;
    int dropped() const;

    // Empty inside the lab's tool namespace; otherwise why nothing may be
    // changed here.
    static QString refusal();

private:
    int counter(const QString &name) const;
    // Runs nft with input on its standard input; its standard output, or
    // false with the reason in *failure.
    static bool runNft(const QStringList &arguments, const QByteArray &input, QByteArray *output,
        QString *failure);

    QString table;
    bool lossy = false;
    QString error;
};

#endif // LOSSYLINK_H
