// A WAV's LIST/INFO tags in the MP3: an ID3v2 tag ahead of frames that stay the lame command's,
// an ID3v1 tag behind them where the text fits, every field readable by other players.
#include "mp3enc/input/sndfilereader.h"
#include "mp3enc/tags/audiotags.h"
#include "mp3enc/tags/id3tag.h"
#include "tests/mp3enc/encoderfixture.h"

#include <QBuffer>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <sndfile.h>
#include <taglib/aifffile.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/flacfile.h>
#include <taglib/id3v2tag.h>
#include <taglib/mpegfile.h>
#include <taglib/opusfile.h>
#include <taglib/textidentificationframe.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

namespace {

constexpr int Frames = 44100 * 2 + 123;

// The seven INFO fields, with the keys ffprobe and mpg123 show them under.
struct Field
{
    const char *info;
    int sfType;
    const char *ffprobe;
    const char *mpg123; // empty: mpg123 does not show it
};
const Field Fields[] = {
    {"INAM", SF_STR_TITLE, "title", "Title"},       {"IART", SF_STR_ARTIST, "artist", "Artist"},
    {"IPRD", SF_STR_ALBUM, "album", "Album"},       {"ICRD", SF_STR_DATE, "date", "Year"},
    {"ITRK", SF_STR_TRACKNUMBER, "track", ""},      {"IGNR", SF_STR_GENRE, "genre", "Genre"},
    {"ICMT", SF_STR_COMMENT, "comment", "Comment"},
};

using Texts = QStringList; // one text per field of Fields, empty for absent

QByteArray le32(quint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian(v, b.data());
    return b;
}

QByteArray subChunk(const QByteArray &id, const QByteArray &text)
{
    QByteArray data = text + '\0';
    QByteArray chunk = id + le32(quint32(data.size())) + data;
    if (data.size() % 2)
        chunk += '\0';
    return chunk;
}

QByteArray infoChunk(const QList<QByteArray> &subChunks, qint64 declaredSize = -1)
{
    QByteArray body = "INFO";
    for (const QByteArray &s : subChunks)
        body += s;
    return "LIST" + le32(quint32(declaredSize < 0 ? body.size() : declaredSize)) + body;
}

// Writes the audio with libsndfile; its INFO strings (bytes as given) go before the data.
bool writeWav(const QString &path, const QList<QPair<int, QByteArray>> &strings = {})
{
    SF_INFO info{};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file)
        return false;
    for (const auto &[type, text] : strings)
        sf_set_string(file, type, text.constData());
    std::vector<short> samples(size_t(Frames) * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(9000 * std::sin(double(i) * (i % 2 ? 0.031 : 0.017)));
    const bool ok = sf_writef_short(file, samples.data(), Frames) == Frames;
    sf_close(file);
    return ok;
}

// Appends a chunk after the data, as many Windows tools place LIST, and fixes the RIFF size.
bool appendChunk(const QString &path, const QByteArray &chunk)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray all = f.readAll() + chunk;
    qToLittleEndian(quint32(all.size() - 8), all.data() + 4);
    return f.seek(0) && f.write(all) == all.size();
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int id3v2Size(const QByteArray &mp3)
{
    if (!mp3.startsWith("ID3") || mp3.size() < 10)
        return 0;
    const auto b = [&mp3](int i) { return int(uchar(mp3[i])) & 0x7F; };
    return 10 + (b(6) << 21 | b(7) << 14 | b(8) << 7 | b(9));
}

QString run(const QString &program, const QStringList &args, bool errorOutput = false)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(errorOutput ? p.readAllStandardError() : p.readAllStandardOutput());
}

QJsonObject ffprobeTags(const QString &mp3)
{
    const QString json =
        run(QStringLiteral("ffprobe"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_entries"),
             QStringLiteral("format_tags"), QStringLiteral("-of"), QStringLiteral("json"), mp3});
    return QJsonDocument::fromJson(json.toUtf8())
        .object()
        .value(QStringLiteral("format"))
        .toObject()
        .value(QStringLiteral("tags"))
        .toObject();
}

// "\tTitle:   text" lines of mpg123's tag display.
QMap<QString, QString> mpg123Tags(const QString &mp3)
{
    QMap<QString, QString> tags;
    const QString out = run(QStringLiteral("mpg123"),
                            {QStringLiteral("-t"), QStringLiteral("--long-tag"), mp3}, true);
    static const QRegularExpression line(QStringLiteral("^\\t(\\w+):[ \\t]*(.*)$"),
                                         QRegularExpression::MultilineOption);
    for (auto it = line.globalMatch(out); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        tags.insert(m.captured(1), m.captured(2));
    }
    return tags;
}

// What a tagger writes: Vorbis comments and a PICTURE block or METADATA_BLOCK_PICTURE, or an
// ID3v2 tag with APIC.
struct TagSet
{
    QString title = QStringLiteral("晨曲 Morning");
    QString artist = QStringLiteral("乐队");
    QString album = QStringLiteral("第一张专辑");
    QString albumArtist = QStringLiteral("Various Artists");
    QString date = QStringLiteral("2019-05-03");
    QString genre = QStringLiteral("Rock");
    QString comment = QStringLiteral("现场录音");
    QString composer = QStringLiteral("作曲家");
    QByteArray cover; // JPEG
};

TagLib::String tl(const QString &s)
{
    return TagLib::String(s.toStdString(), TagLib::String::UTF8);
}

TagLib::ByteVector tl(const QByteArray &b)
{
    return TagLib::ByteVector(b.constData(), uint(b.size()));
}

void writeXiph(TagLib::Ogg::XiphComment *x, const TagSet &t)
{
    x->addField("TITLE", tl(t.title));
    x->addField("ARTIST", tl(t.artist));
    x->addField("ALBUM", tl(t.album));
    x->addField("ALBUMARTIST", tl(t.albumArtist));
    x->addField("DATE", tl(t.date));
    x->addField("TRACKNUMBER", "3");
    x->addField("TRACKTOTAL", "12");
    x->addField("DISCNUMBER", "1");
    x->addField("DISCTOTAL", "2");
    x->addField("GENRE", tl(t.genre));
    x->addField("COMMENT", tl(t.comment));
    x->addField("COMPOSER", tl(t.composer));
    auto *back = new TagLib::FLAC::Picture; // a second picture that must not win
    back->setType(TagLib::FLAC::Picture::BackCover);
    back->setMimeType("image/png");
    back->setData("\x89PNG not the cover");
    x->addPicture(back);
    auto *front = new TagLib::FLAC::Picture;
    front->setType(TagLib::FLAC::Picture::FrontCover);
    front->setMimeType("image/jpeg");
    front->setDescription("cover");
    front->setData(tl(t.cover));
    x->addPicture(front);
}

void writeId3v2(TagLib::ID3v2::Tag *tag, const TagSet &t)
{
    const auto text = [tag](const char *id, const QString &value) {
        auto *frame = new TagLib::ID3v2::TextIdentificationFrame(id, TagLib::String::UTF8);
        frame->setText(tl(value));
        tag->addFrame(frame);
    };
    text("TIT2", t.title);
    text("TPE1", t.artist);
    text("TALB", t.album);
    text("TPE2", t.albumArtist);
    text("TDRC", t.date);
    text("TRCK", QStringLiteral("3/12"));
    text("TPOS", QStringLiteral("1/2"));
    text("TCON", t.genre);
    text("TCOM", t.composer);
    auto *comment = new TagLib::ID3v2::CommentsFrame(TagLib::String::UTF8);
    comment->setText(tl(t.comment));
    tag->addFrame(comment);
    auto *picture = new TagLib::ID3v2::AttachedPictureFrame;
    picture->setMimeType("image/jpeg");
    picture->setType(TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    picture->setPicture(tl(t.cover));
    tag->addFrame(picture);
}

bool tagFile(const QString &path, const TagSet &t)
{
    const QByteArray name = QFile::encodeName(path);
    if (path.endsWith(QLatin1String(".flac"))) {
        TagLib::FLAC::File f(name.constData());
        writeXiph(f.xiphComment(true), t);
        return f.save();
    }
    if (path.endsWith(QLatin1String(".ogg"))) {
        TagLib::Ogg::Vorbis::File f(name.constData());
        writeXiph(f.tag(), t);
        return f.save();
    }
    if (path.endsWith(QLatin1String(".opus"))) {
        TagLib::Ogg::Opus::File f(name.constData());
        writeXiph(f.tag(), t);
        return f.save();
    }
    if (path.endsWith(QLatin1String(".aiff"))) {
        TagLib::RIFF::AIFF::File f(name.constData());
        writeId3v2(f.tag(), t);
        return f.save();
    }
    TagLib::RIFF::WAV::File f(name.constData());
    writeId3v2(f.ID3v2Tag(), t);
    return f.save();
}

QByteArray jpegCover()
{
    QImage image(600, 600, QImage::Format_RGB32);
    for (int y = 0; y < 600; ++y) {
        for (int x = 0; x < 600; ++x)
            image.setPixel(x, y, qRgb(x * 255 / 600, y * 255 / 600, (x ^ y) & 0xFF));
    }
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 90);
    return jpeg;
}

// Replaces a FLAC's metadata after its stream information with one comment block holding
// `fields` ("NAME=" and the value's bytes, exactly as given).
bool setRawComment(const QString &flac, const QList<QByteArray> &fields)
{
    QFile f(flac);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    const QByteArray all = f.readAll();
    qsizetype at = 4;
    for (bool last = false; !last && at + 4 <= all.size();) {
        last = uchar(all[at]) & 0x80;
        at += 4 + (uchar(all[at + 1]) << 16 | uchar(all[at + 2]) << 8 | uchar(all[at + 3]));
    }
    QByteArray comment = le32(6) + "vendor" + le32(quint32(fields.size()));
    for (const QByteArray &field : fields)
        comment += le32(quint32(field.size())) + field;
    QByteArray streamInfo = all.mid(4, 4 + 34);
    streamInfo[0] = 0; // no longer the last block
    const QByteArray header = QByteArray(1, '\x84') + QByteArray(1, char(comment.size() >> 16)) +
                              char(comment.size() >> 8) + char(comment.size());
    const QByteArray rewritten = "fLaC" + streamInfo + header + comment + all.mid(at);
    return f.resize(0) && f.seek(0) && f.write(rewritten) == rewritten.size();
}

} // namespace

class TestMp3EncTags final : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const QString &name) const { return m_dir.filePath(name); }

    // Encodes `wav` at 128 kbps and checks that the frames are the lame command's; returns the
    // file, or empty after a failed check.
    QByteArray encodeAndCompareFrames(const QString &wav, const QString &mp3, int *v2Size = nullptr)
    {
        EncoderFixture encoder;
        if (!encoder.ok() || !encoder.convert(wav, mp3) ||
            encoder.site.count(RecordingSite::Failure) != 0) {
            qWarning("encoding %s failed", qPrintable(wav));
            return {};
        }
        const QString reference = mp3 + QStringLiteral(".lame.mp3");
        if (!runTool(QStringLiteral("lame"), {QStringLiteral("-b"), QStringLiteral("128"),
                                              QStringLiteral("--quiet"), wav, reference}))
            return {};
        const QByteArray ours = readAll(mp3), theirs = readAll(reference);
        const int v2 = id3v2Size(ours);
        const qsizetype v1 = ours.size() - v2 - theirs.size();
        if (ours.mid(v2, theirs.size()) != theirs || (v1 != 0 && v1 != 128) ||
            (v1 == 128 && !ours.right(128).startsWith("TAG"))) {
            qWarning("the frames differ from the lame command's (ID3v2 %d, rest %lld)", v2,
                     qlonglong(v1));
            return {};
        }
        if (v2Size)
            *v2Size = v2;
        return ours;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        if (QStandardPaths::findExecutable(QStringLiteral("ffprobe")).isEmpty())
            QSKIP("ffprobe (ffmpeg) is needed to read the tags back");
    }

    void everyFieldReadsBack_data();
    void everyFieldReadsBack();
    void noTagsNoBytes_data();
    void noTagsNoBytes();
    void malformedInfoChunk_data();
    void malformedInfoChunk();
    void decodeInfoText_data();
    void decodeInfoText();
    void id3v1TakesWhatFits_data();
    void id3v1TakesWhatFits();
    void segmentedFileKeepsItsTags();
    void tagsAndCoverOfEveryKind_data();
    void tagsAndCoverOfEveryKind();
    void infoPastLibsndfilesLimits_data();
    void infoPastLibsndfilesLimits();
    void commentBytes_data();
    void commentBytes();
    void coverPastTheLimit_data();
    void coverPastTheLimit();
    void tagPastSyncsafeSizes_data();
    void tagPastSyncsafeSizes();
};

void TestMp3EncTags::everyFieldReadsBack_data()
{
    QTest::addColumn<QString>("encoding"); // how the WAV stores the text
    QTest::addColumn<bool>("afterData");   // LIST behind the data chunk
    QTest::addColumn<Texts>("texts");
    QTest::addColumn<bool>("id3v1");

    const Texts ascii{"Morning Song", "The Band", "First Album",  "1998",
                      "3/12",         "Rock",     "recorded live"};
    const Texts chinese{"晨曲 (现场版)", "乐队 樂隊",      "第一张专辑", "2023-05-01", "7",
                        "流行",          "现场录音，€ ß ü"};
    const Texts mixed{"Ça va « bien »", "李雷", "", "2001", "12/20", "Jazz", ""};
    QTest::newRow("ASCII, libsndfile's layout") << "utf-8" << false << ascii << true;
    QTest::newRow("UTF-8 Chinese, before data") << "utf-8" << false << chinese << true;
    QTest::newRow("UTF-8 Chinese, after data") << "utf-8" << true << chinese << true;
    QTest::newRow("GB18030, after data") << "gb18030" << true << chinese << true;
    QTest::newRow("Latin-1 and Chinese, some absent") << "utf-8" << true << mixed << true;
}

// Each field reads back exactly in ffprobe and mpg123; mpg123 also finds the info tag behind
// the ID3v2 tag (exact gapless length).
void TestMp3EncTags::everyFieldReadsBack()
{
    QFETCH(QString, encoding);
    QFETCH(bool, afterData);
    QFETCH(Texts, texts);
    QFETCH(bool, id3v1);
    QStringEncoder encoder(encoding == QLatin1String("gb18030") ? "GB18030" : "UTF-8");
    QVERIFY(encoder.isValid());

    const QString wav = path(QStringLiteral("标签 %1.wav").arg(QTest::currentDataTag()));
    const QString mp3 = path(QStringLiteral("标签 %1.mp3").arg(QTest::currentDataTag()));
    QList<QPair<int, QByteArray>> strings;
    QList<QByteArray> subChunks;
    for (int i = 0; i < texts.size(); ++i) {
        if (texts[i].isEmpty())
            continue;
        const QByteArray bytes = encoder.encode(texts[i]);
        strings.append({Fields[i].sfType, bytes});
        subChunks.append(subChunk(Fields[i].info, bytes));
    }
    if (afterData) {
        QVERIFY(writeWav(wav));
        QVERIFY(appendChunk(wav, infoChunk(subChunks)));
    } else {
        QVERIFY(writeWav(wav, strings));
    }

    int v2 = 0;
    const QByteArray ours = encodeAndCompareFrames(wav, mp3, &v2);
    QVERIFY(!ours.isEmpty());
    QVERIFY(v2 > 10);

    const QJsonObject probed = ffprobeTags(mp3);
    const QMap<QString, QString> shown = mpg123Tags(mp3);
    for (int i = 0; i < texts.size(); ++i) {
        const QString key = QString::fromLatin1(Fields[i].ffprobe);
        if (texts[i].isEmpty()) {
            QVERIFY2(!probed.contains(key), qPrintable(key));
            continue;
        }
        QCOMPARE(probed.value(key).toString(), texts[i]);
        // mpg123 shows the year of a date.
        const QString expected = Fields[i].sfType == SF_STR_DATE ? texts[i].left(4) : texts[i];
        if (*Fields[i].mpg123)
            QCOMPARE(shown.value(QString::fromLatin1(Fields[i].mpg123)), expected);
    }
    QCOMPARE(decode(mp3, m_dir.path()).frames, qint64(Frames));
    QCOMPARE(ours.right(128).startsWith("TAG"), id3v1);
}

void TestMp3EncTags::noTagsNoBytes_data()
{
    QTest::addColumn<QByteArray>("list"); // LIST chunk appended after the data, if any
    QTest::newRow("no LIST chunk") << QByteArray();
    QTest::newRow("only fields an MP3 does not take")
        << infoChunk({subChunk("ISFT", "Recorder 2.0"), subChunk("ICOP", "(c) someone")});
    QTest::newRow("empty texts") << infoChunk({subChunk("INAM", ""), subChunk("IART", "")});
}

// A WAV without usable tags gives the lame command's file byte for byte: no empty tag.
void TestMp3EncTags::noTagsNoBytes()
{
    QFETCH(QByteArray, list);
    const QString wav = path(QStringLiteral("无标签 %1.wav").arg(QTest::currentDataTag()));
    const QString mp3 = path(QStringLiteral("无标签 %1.mp3").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav));
    if (!list.isEmpty())
        QVERIFY(appendChunk(wav, list));
    QVERIFY(!encodeAndCompareFrames(wav, mp3).isEmpty());
    QCOMPARE(fileDigest(mp3), fileDigest(mp3 + QStringLiteral(".lame.mp3")));
}

void TestMp3EncTags::malformedInfoChunk_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("title"); // what survives, empty for no tag at all
    QTest::newRow("sub-chunk longer than the LIST")
        << QByteArray("LIST" + le32(16) + "INFOINAM" + le32(5000) + QByteArray("abc\0", 4))
        << QString();
    QTest::newRow("LIST longer than the file")
        << infoChunk({subChunk("INAM", "Still Here")}, 100000) << QStringLiteral("Still Here");
    QTest::newRow("garbage sizes")
        << QByteArray("LIST" + le32(12) + "INFO" + QByteArray(8, '\xff')) << QString();
    QTest::newRow("neither UTF-8 nor GB18030")
        << infoChunk({subChunk("INAM", "Bad \xff\xfe\x80 bytes")}) << QString::fromUtf8("?");
}

// A damaged INFO chunk costs at most the tags: the audio converts, frames unchanged.
void TestMp3EncTags::malformedInfoChunk()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, title);
    const QString wav = path(QStringLiteral("坏 %1.wav").arg(QTest::currentDataTag()));
    const QString mp3 = path(QStringLiteral("坏 %1.mp3").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav));
    QVERIFY(appendChunk(wav, list));
    const QByteArray ours = encodeAndCompareFrames(wav, mp3);
    QVERIFY(!ours.isEmpty());
    QCOMPARE(decode(mp3, m_dir.path()).frames, qint64(Frames));
    const QString probed = ffprobeTags(mp3).value(QStringLiteral("title")).toString();
    if (title.isEmpty()) {
        QCOMPARE(id3v2Size(ours), 0);
    } else if (title == QLatin1String("?")) {
        QVERIFY(probed.startsWith(QStringLiteral("Bad ")) &&
                probed.endsWith(QStringLiteral(" bytes")));
    } else {
        QCOMPARE(probed, title);
    }
}

void TestMp3EncTags::decodeInfoText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("ASCII") << QByteArray("Song 1") << QStringLiteral("Song 1");
    QTest::newRow("UTF-8") << QStringLiteral("歌曲 ü").toUtf8() << QStringLiteral("歌曲 ü");
    QTest::newRow("GB18030") << QByteArray("\xb8\xe8\xc7\xfa") << QStringLiteral("歌曲");
    QTest::newRow("GB18030 four-byte")
        << QByteArray("\x81\x30\x89\x38\x94\x39\xfc\x36") << QStringLiteral("ß😀");
    QTest::newRow("empty") << QByteArray() << QString();
}

// Valid UTF-8 first; GB18030 for what Chinese Windows tools write.
void TestMp3EncTags::decodeInfoText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    QCOMPARE(::decodeInfoText(bytes), text);
}

void TestMp3EncTags::id3v1TakesWhatFits_data()
{
    QTest::addColumn<Texts>("texts");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("comment");
    QTest::addColumn<QByteArray>("year");
    QTest::addColumn<int>("track");
    QTest::addColumn<int>("genre");
    const QString thirty(30, u'x');
    QTest::newRow("all fit") << Texts{"Title", "Artist", "Album",  "1999-02-03",
                                      "7/12",  "Pop",    "Comment"}
                             << QByteArray("Title") << QByteArray("Comment") << QByteArray("1999")
                             << 7 << 13;
    QTest::newRow("widths") << Texts{thirty, "", "", "", "", "", QString(29, u'c')}
                            << thirty.toLatin1() << QByteArray() << QByteArray() << 0 << 255;
    QTest::newRow("too long, Chinese, odd values")
        << Texts{thirty + u'y', "", "", "May 2001", "300", "自定义", "中文"} << QByteArray()
        << QByteArray() << QByteArray() << 0 << 255;
    QTest::newRow("Latin-1 accents")
        << Texts{"Café", "", "", "", "", "", ""} << QByteArray("Caf\xe9") << QByteArray()
        << QByteArray() << 0 << 255;
}

// ID3v1 holds a field only where it fits unchanged; the ID3v2 tag holds everything.
void TestMp3EncTags::id3v1TakesWhatFits()
{
    QFETCH(Texts, texts);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, comment);
    QFETCH(QByteArray, year);
    QFETCH(int, track);
    QFETCH(int, genre);
    AudioTags tags;
    tags.title = texts[0];
    tags.artist = texts[1];
    tags.album = texts[2];
    tags.date = texts[3];
    tags.track = texts[4];
    tags.genre = texts[5];
    tags.comment = texts[6];
    const Id3Tags rendered = renderId3Tags(tags);
    QVERIFY(rendered.v2.startsWith("ID3"));
    const QByteArray &v1 = rendered.v1;
    const bool any =
        !title.isEmpty() || !comment.isEmpty() || !year.isEmpty() || track || genre != 255;
    if (!any) {
        QVERIFY(v1.isEmpty());
        return;
    }
    QCOMPARE(v1.size(), 128);
    QVERIFY(v1.startsWith("TAG"));
    const auto field = [&v1](int at, int width) {
        const QByteArray f = v1.mid(at, width);
        return f.left(f.indexOf('\0') < 0 ? width : f.indexOf('\0'));
    };
    QCOMPARE(field(3, 30), title);
    QCOMPARE(field(93, 4), year);
    QCOMPARE(field(97, 28), comment);
    QCOMPARE(int(uchar(v1[126])), track);
    QCOMPARE(int(uchar(v1[127])), genre);
}

// A file long enough to be encoded in segments on every core: the tags still frame the joined
// stream, whose info tag still follows the ID3v2 tag (exact gapless length).
void TestMp3EncTags::segmentedFileKeepsItsTags()
{
    const QString wav = path(QStringLiteral("长 long.wav"));
    const QString mp3 = path(QStringLiteral("长 long.mp3"));
    constexpr int Seconds = 40;
    QVERIFY(testsupport::writeWav(wav, 44100 * Seconds, 2));
    QVERIFY(appendChunk(
        wav, infoChunk({subChunk("INAM", "长曲 Long Song"), subChunk("IART", "The Band")})));
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    QCOMPARE(encoder.control->get(QStringLiteral("Threads")).toInt(), 0);
    QVERIFY(encoder.convert(wav, mp3));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    const QByteArray ours = readAll(mp3);
    QVERIFY(id3v2Size(ours) > 10);
    QVERIFY(ours.right(128).startsWith("TAG")); // the artist fits ID3v1, the title does not
    const QJsonObject probed = ffprobeTags(mp3);
    QCOMPARE(probed.value(QStringLiteral("title")).toString(), QStringLiteral("长曲 Long Song"));
    QCOMPARE(probed.value(QStringLiteral("artist")).toString(), QStringLiteral("The Band"));
    QCOMPARE(decode(mp3, m_dir.path()).frames, qint64(44100 * Seconds));
}

void TestMp3EncTags::tagsAndCoverOfEveryKind_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("ending");
    QTest::newRow("FLAC") << (SF_FORMAT_FLAC | SF_FORMAT_PCM_16) << "flac";
    QTest::newRow("Ogg Vorbis") << (SF_FORMAT_OGG | SF_FORMAT_VORBIS) << "ogg";
    QTest::newRow("Opus") << (SF_FORMAT_OGG | SF_FORMAT_OPUS) << "opus";
    QTest::newRow("AIFF, ID3 chunk") << (SF_FORMAT_AIFF | SF_FORMAT_PCM_16) << "aiff";
    QTest::newRow("WAV, id3 chunk") << (SF_FORMAT_WAV | SF_FORMAT_PCM_16) << "wav";
}

// Every field and the front cover of each kind's tags read back from the MP3 in ffprobe and
// mpg123; the picture's bytes are the input's, typed as JPEG.
void TestMp3EncTags::tagsAndCoverOfEveryKind()
{
    QFETCH(int, format);
    QFETCH(QString, ending);
    const bool opus = ending == QLatin1String("opus");
    const QString input = path(QStringLiteral("带标签.%1").arg(ending));
    QVERIFY(testsupport::writeWav(input, 48000 * 2, 2, opus ? 48000 : 44100, format));
    TagSet t;
    t.cover = jpegCover();
    QVERIFY(t.cover.startsWith("\xFF\xD8"));
    QVERIFY(tagFile(input, t));

    const QString mp3 = input + QStringLiteral(".mp3");
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    QVERIFY(encoder.convert(input, mp3));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);

    const QJsonObject probed = ffprobeTags(mp3);
    const QList<QPair<const char *, QString>> expected = {{"title", t.title},
                                                          {"artist", t.artist},
                                                          {"album", t.album},
                                                          {"album_artist", t.albumArtist},
                                                          {"date", t.date},
                                                          {"track", QStringLiteral("3/12")},
                                                          {"disc", QStringLiteral("1/2")},
                                                          {"genre", t.genre},
                                                          {"comment", t.comment},
                                                          {"composer", t.composer}};
    for (const auto &[key, value] : expected)
        QCOMPARE(probed.value(QLatin1String(key)).toString(), value);
    const QMap<QString, QString> shown = mpg123Tags(mp3);
    QCOMPARE(shown.value(QStringLiteral("Title")), t.title);
    QCOMPARE(shown.value(QStringLiteral("Album")), t.album);

    // The picture: a 600x600 JPEG stream in ffprobe's eyes, its bytes the cover's.
    const QJsonArray streams =
        QJsonDocument::fromJson(
            run(QStringLiteral("ffprobe"),
                {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-show_streams"),
                 QStringLiteral("-of"), QStringLiteral("json"), mp3})
                .toUtf8())
            .object()
            .value(QStringLiteral("streams"))
            .toArray();
    QCOMPARE(streams.size(), 2);
    const QJsonObject picture = streams.at(1).toObject();
    QCOMPARE(picture.value(QStringLiteral("codec_name")).toString(), QStringLiteral("mjpeg"));
    QCOMPARE(picture.value(QStringLiteral("width")).toInt(), 600);
    TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
    const TagLib::ID3v2::FrameList frames = file.ID3v2Tag()->frameListMap()["APIC"];
    QCOMPARE(frames.size(), 1u);
    const auto *apic = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame *>(frames.front());
    QVERIFY(apic);
    QCOMPARE(apic->mimeType(), TagLib::String("image/jpeg"));
    QCOMPARE(apic->type(), TagLib::ID3v2::AttachedPictureFrame::FrontCover);
    const TagLib::ByteVector bytes = apic->picture();
    QCOMPARE(QByteArray(bytes.data(), int(bytes.size())), t.cover);
}

void TestMp3EncTags::infoPastLibsndfilesLimits_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("artist");
    QTest::addColumn<QString>("comment");
    QList<QByteArray> many;
    for (int i = 0; i < 39; ++i)
        many << subChunk("IX" + QByteArray::number(10 + i), "extra");
    QTest::newRow("33 fields, the title last")
        << infoChunk(many.mid(0, 32) << subChunk("INAM", "Title 33")) << "Title 33"
        << ""
        << "";
    QTest::newRow("41 fields") << infoChunk(QList<QByteArray>{subChunk("IART", "First")} + many
                                            << subChunk("INAM", "Last"))
                               << "Last"
                               << "First"
                               << "";
    const QByteArray long3000(3000, 'c');
    QTest::newRow("3000-byte comment")
        << infoChunk({subChunk("ICMT", long3000), subChunk("INAM", "After")}) << "After"
        << "" << QString::fromLatin1(long3000);
    QTest::newRow("unpadded odd-length field")
        << infoChunk(
               {"IART" + le32(3) + "abc", subChunk("INAM", "Name"), subChunk("ICMT", "Comment")})
        << "Name"
        << "abc"
        << "Comment";
}

// libsndfile loses the title past 32 fields, every tag past 39, a comment of 3000 bytes, and
// reads an unpadded odd-length text into the next field: the INFO reader does none of that.
void TestMp3EncTags::infoPastLibsndfilesLimits()
{
    QFETCH(QByteArray, list);
    QFETCH(QString, title);
    QFETCH(QString, artist);
    QFETCH(QString, comment);
    const QString wav = path(QStringLiteral("多 %1.wav").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav));
    QVERIFY(appendChunk(wav, list));
    SndFileReader reader;
    QVERIFY(reader.open(wav));
    const AudioTags tags = readAudioTags(reader);
    QCOMPARE(tags.title, title);
    QCOMPARE(tags.artist, artist);
    QCOMPARE(tags.comment, comment);
}

void TestMp3EncTags::commentBytes_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("text");
    const QString bad(QChar::ReplacementCharacter);
    QTest::newRow("UTF-8") << QStringLiteral("歌曲 ü").toUtf8() << QStringLiteral("歌曲 ü");
    QTest::newRow("no character at all") << QByteArray("\xff\xfe\xfd") << bad + bad + bad;
    QTest::newRow("overlong NUL") << QByteArray("a\xc0\x80z") << "a" + bad + bad + "z";
    QTest::newRow("surrogate") << QByteArray("x\xed\xa0\x80") << "x" + bad + bad + bad;
    QTest::newRow("cut short") << QStringLiteral("歌曲").toUtf8().left(5) << "歌" + bad + bad;
    QTest::newRow("stray continuation byte") << QByteArray("ab\x80 cd") << "ab" + bad + " cd";
    QTest::newRow("Latin-1") << QByteArray("caf\xe9") << QStringLiteral("café");
    QTest::newRow("Latin-1 words") << QByteArray("M\xfcller & S\xf6hne, Gr\xf6\xdf"
                                                 "e")
                                   << QStringLiteral("Müller & Söhne, Größe");
    QTest::newRow("UTF-8 and one Latin-1 byte")
        << QByteArray("\xc3\xbc caf\xe9") << QStringLiteral("ü caf") + bad;
}

// A FLAC comment that is not UTF-8 reaches the MP3 as the text it plainly is, else with each
// stray byte marked: never a character the bytes do not hold, never cut off.
void TestMp3EncTags::commentBytes()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, text);
    const QString flac = path(QStringLiteral("字节 %1.flac").arg(QTest::currentDataTag()));
    QVERIFY(testsupport::writeWav(flac, 44100, 2, 44100, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    QVERIFY(setRawComment(flac, {"TITLE=" + bytes, "artist=" + bytes}));
    const QString mp3 = flac + QStringLiteral(".mp3");
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    QVERIFY(encoder.convert(flac, mp3));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    const QJsonObject probed = ffprobeTags(mp3);
    QCOMPARE(probed.value(QStringLiteral("title")).toString(), text);
    QCOMPARE(probed.value(QStringLiteral("artist")).toString(), text);
}

void TestMp3EncTags::coverPastTheLimit_data()
{
    QTest::addColumn<qint64>("coverBytes");
    QTest::addColumn<QString>("notice");
    QTest::newRow("within the limit") << qint64(300000) << QString();
    QTest::newRow("past the limit")
        << MaxCoverBytes + (1 << 20)
        << QStringLiteral("封面图片太大（17 MB，上限16 MB），没有放进MP3");
}

// A cover larger than the encoder carries is left out and the file converts with its other
// tags; LastNotice says what was left out, and is empty again after the next file.
void TestMp3EncTags::coverPastTheLimit()
{
    QFETCH(qint64, coverBytes);
    QFETCH(QString, notice);
    const QString wav = path(QStringLiteral("封面 %1.wav").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(wav));
    TagSet t;
    t.cover = "\xFF\xD8\xFF\xE0" + QByteArray(coverBytes - 4, '\x55');
    QVERIFY(tagFile(wav, t));
    EncoderFixture encoder;
    QVERIFY(encoder.ok());
    const QString mp3 = wav + QStringLiteral(".mp3");
    QVERIFY(encoder.convert(wav, mp3));
    QCOMPARE(encoder.site.count(RecordingSite::Failure), 0);
    QCOMPARE(encoder.control->get(QStringLiteral("LastNotice")).toString(), notice);
    QCOMPARE(decode(mp3, m_dir.path()).frames, qint64(Frames));
    TagLib::MPEG::File file(QFile::encodeName(mp3).constData());
    QVERIFY(file.ID3v2Tag());
    QCOMPARE(file.ID3v2Tag()->frameListMap()["APIC"].size(), notice.isEmpty() ? 1u : 0u);
    QCOMPARE(QString::fromStdString(file.ID3v2Tag()->title().to8Bit(true)), t.title);

    const QString plain = path(QStringLiteral("无封面 %1.wav").arg(QTest::currentDataTag()));
    QVERIFY(writeWav(plain));
    encoder.site.events.clear();
    QVERIFY(encoder.convert(plain, plain + QStringLiteral(".mp3")));
    QCOMPARE(encoder.control->get(QStringLiteral("LastNotice")).toString(), QString());
}

void TestMp3EncTags::tagPastSyncsafeSizes_data()
{
    QTest::addColumn<qint64>("coverBytes");
    QTest::newRow("the picture's frame alone: 256 MB, a size of 0 once wrapped")
        << (qint64(1) << 28);
    QTest::newRow("the frame fits, the whole tag does not") << MaxId3v2Size - 64;
}

// Sizes past 28 bits are refused, never wrapped: the picture is left out and the rest of the
// tag is whole (its size the bytes it has). Rendered in memory, nothing written.
void TestMp3EncTags::tagPastSyncsafeSizes()
{
    QFETCH(qint64, coverBytes);
    AudioTags tags;
    tags.title = QStringLiteral("大封面");
    tags.cover.mimeType = "image/jpeg";
    tags.cover.data = QByteArray(coverBytes, '\x55');
    const Id3Tags rendered = renderId3Tags(tags);
    QCOMPARE(id3v2Size(rendered.v2), rendered.v2.size());
    QVERIFY(rendered.v2.size() < 4096);
    QVERIFY(rendered.v2.contains("TIT2"));
    QVERIFY(!rendered.v2.contains("APIC"));
    QVERIFY2(rendered.notice.startsWith(QStringLiteral("封面图片太大（256 MB）")),
             qPrintable(rendered.notice));
}

QTEST_GUILESS_MAIN(TestMp3EncTags)
#include "test_mp3enc_tags.moc"
