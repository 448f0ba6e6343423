#pragma once

#include <QByteArray>
#include <QString>

// What identifies an input's sound apart from its tags, cheap to get: for FLAC the MD5 of the
// decoded audio its STREAMINFO carries (else a hash of its frames), for RIFF, RF64, AIFF and AU
// files a hash of the sample data chunk; for any other container a hash of the whole file, so
// a change of its tags counts as a change of its sound (it is encoded again, never wrongly
// passed over). Empty when the file cannot be read.
QByteArray AudioIdentity(const QString &path);
