#include "converter/main/cuesheet.h"

#include <QStringDecoder>
#include <libcue.h>
#include <memory>

namespace cuesheet {

namespace {

using Parsed = std::unique_ptr<Cd, decltype(&cd_delete)>;

Parsed parse(const QString &text)
{
    return Parsed(cue_parse_string(text.toUtf8().constData()), &cd_delete);
}

QString textOf(const char *value)
{
    return value ? QString::fromUtf8(value).trimmed() : QString();
}

// One file for every track, or "".
QString singleFile(const Cd *cd)
{
    QString file;
    for (int i = 1; i <= cd_get_ntrack(cd); ++i) {
        const QString named = textOf(track_get_filename(cd_get_track(cd, i)));
        if (named.isEmpty() || (!file.isEmpty() && named != file))
            return {};
        file = named;
    }
    return file;
}

} // namespace

QString Decode(const QByteArray &bytes)
{
    const QByteArray bom("\xEF\xBB\xBF");
    const QByteArray body = bytes.startsWith(bom) ? bytes.mid(bom.size()) : bytes;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8.decode(body);
    if (!utf8.hasError())
        return text;
    QStringDecoder gb18030("GB18030");
    if (!gb18030.isValid())
        return text; // no GB18030 here: what UTF-8 made of it
    return gb18030.decode(body);
}

QString ImageOf(const QString &text)
{
    const Parsed cd = parse(text);
    return cd ? singleFile(cd.get()) : QString();
}

std::variant<Sheet, QString> Read(const QString &text, int sampleRate, qint64 frames)
{
    const Parsed cd = parse(text);
    if (!cd || cd_get_ntrack(cd.get()) < 1)
        return QStringLiteral("CUE文件读不懂，或者没有音轨");
    const int count = cd_get_ntrack(cd.get());
    Sheet sheet;
    sheet.image = singleFile(cd.get());
    if (sheet.image.isEmpty())
        return QStringLiteral("CUE文件指向不止一个音频文件，或者没有指向音频文件");
    const Cdtext *album = cd_get_cdtext(cd.get());
    Rem *rem = cd_get_rem(cd.get());
    const QString albumTitle = textOf(cdtext_get(PTI_TITLE, album));
    const QString albumArtist = textOf(cdtext_get(PTI_PERFORMER, album));
    qint64 previous = -1;
    for (int i = 1; i <= count; ++i) {
        const ::Track *track = cd_get_track(cd.get(), i);
        const long start =
            track_get_index(track, 1) >= 0 ? track_get_index(track, 1) : track_get_start(track);
        // CD frames of 1/75 s, in the image's frames: exact for the rates CDs and DATs use.
        const qint64 indexed = qint64(start) * sampleRate / 75;
        const qint64 at = i == 1 ? 0 : indexed; // before the first track: the first track's
        if (start < 0 || at <= previous)
            return QStringLiteral("CUE文件中第%1轨的时间不在前一轨之后").arg(i);
        if (indexed >= frames)
            return QStringLiteral("CUE文件中第%1轨的时间超出了音频文件的长度").arg(i);
        if (!sheet.tracks.isEmpty())
            sheet.tracks.last().count = at - sheet.tracks.last().first;
        previous = at;
        const Cdtext *own = track_get_cdtext(track);
        Track cut;
        cut.number = i;
        cut.first = at;
        const QString performer = textOf(cdtext_get(PTI_PERFORMER, own));
        const std::pair<const char *, QString> fields[] = {
            {"title", textOf(cdtext_get(PTI_TITLE, own))},
            {"artist", performer.isEmpty() ? albumArtist : performer},
            {"album", albumTitle},
            {"albumartist", albumArtist},
            {"composer", textOf(cdtext_get(PTI_SONGWRITER, own))},
            {"genre", textOf(cdtext_get(PTI_GENRE, album))},
            {"date", textOf(rem_get(REM_DATE, rem))},
            {"track", QStringLiteral("%1/%2").arg(i).arg(count)},
        };
        for (const auto &[field, value] : fields) {
            if (!value.isEmpty())
                cut.tags.insert(QLatin1String(field), value);
        }
        sheet.tracks.append(cut);
    }
    sheet.tracks.last().count = frames - sheet.tracks.last().first;
    return sheet;
}

} // namespace cuesheet
