#ifndef REFERENCECRC_H
#define REFERENCECRC_H

#include <QByteArray>

// CRC-16/MODBUS as the discovery frames carry it, computed bit by bit: the
// tests hold the tool's table-driven code and the simulator to it, so a wrong
// table entry cannot hide on both sides.
namespace ReferenceCrc {

quint16 of(const QByteArray &data);
// data with its checksum appended, high byte first.
QByteArray appended(const QByteArray &data);
// Whether the frame ends in the checksum of the bytes before, high byte first.
bool isAppended(const QByteArray &frame);

} // namespace ReferenceCrc

#endif // REFERENCECRC_H
