#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <optional>

// The fields of a Vorbis comment (FLAC's comment block, an Ogg stream's comment packet after
// its codec's prefix): each name in upper case, each value as the bytes the file stores, in the
// file's order. Read by us, so a value that is not UTF-8 reaches decodeCommentText unchanged.
// The values point into the data parsed (a cover in base64 is not copied): valid while it is.
struct VorbisComment
{
    struct Field
    {
        QByteArray name;
        QByteArrayView value;
    };
    QList<Field> fields;

    // The values of `name`, in order.
    QList<QByteArrayView> values(const char *name) const;
};

// Nothing when the lengths in `data` run past its end.
std::optional<VorbisComment> parseVorbisComment(QByteArrayView data);

// A comment's text, which should be UTF-8 but is not always: valid UTF-8 as it is; a Latin-1
// text (accented letters within words, as older taggers wrote) as Latin-1; anything else as
// UTF-8 with each byte that belongs to no well-formed character read as U+FFFD.
QString decodeCommentText(QByteArrayView bytes);
