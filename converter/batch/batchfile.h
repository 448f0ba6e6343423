#pragma once

#include <QList>
#include <QMap>
#include <QString>

struct FoundFiles;

// One file of a batch: where it was found below a folder that was given ("" for a file given
// itself), so its MP3 keeps that place below the output folder.
struct BatchFile
{
    QString input;
    QString subfolder;
    // A track of an album held in one file: `count` frames from `first`, with its cue sheet's
    // tags over the file's own.
    qint64 first = 0;
    qint64 count = 0; // 0: the whole file
    QMap<QString, QString> tags;
    // The cue sheet file given for it, or its track's ("" for none, or the file's own): its
    // tracks go beside it, and are out of date when it changes.
    QString sheet;
    int entry = -1;  // the position in the list it came from
    QString refusal; // refused as a whole before anything is encoded (a broken cue sheet)
    QString note;    // told with it once converted (why the sheet beside it was not used)

    bool isTrack() const { return count > 0; }
    // As a user reads it: the path, and the track's number for a track.
    QString label() const;
};

// The files a face hands over (found in folders or on the command line, or in the window's
// list: path, subfolder and cue sheet each), as the batch's files in that order.
QList<BatchFile> BatchFilesOf(const FoundFiles &found);
