#pragma once

#include <QByteArray>

// Packet `index` of the first logical stream of the Ogg file open as `fd` (1: a Vorbis or Opus
// stream's comment), read by us with pread: the pages' headers first, then the packet's bytes
// into one buffer of its size, so a large packet (a cover in base64) is held once. Empty when the
// file ends first.
QByteArray readOggPacket(int fd, int index);
