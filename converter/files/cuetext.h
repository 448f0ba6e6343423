#pragma once

#include <QByteArray>
#include <QString>

namespace cuesheet {

// A sheet's text as read from its bytes, and how sure that reading is.
struct Text
{
    QString text;
    QString encoding;      // the name it was read by
    bool doubtful = false; // too little to tell the encoding by: the names may be wrong
};

// UTF-8 and UTF-16 by their byte order marks, UTF-8 without one when the bytes are, else the
// encoding uchardet finds (GB18030, cp1251, Shift-JIS, Big5, ...). Where that guess is weak,
// GB18030, as Chinese rippers write, and the reading is doubtful.
Text Decode(const QByteArray &bytes);

} // namespace cuesheet
