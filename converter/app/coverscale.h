#pragma once

#include <QByteArray>
#include <QString>

// A JPEG or PNG cover wider or taller than `size` scaled down to it, keeping its aspect, in the
// type it came in; one that fits is returned as it is. Empty with `why` set when it cannot be
// read. Here, where the program may use Qt Gui: the batch's own layers stay with Qt Core.
QByteArray ScaleCover(const QByteArray &data, int size, QString *why);
