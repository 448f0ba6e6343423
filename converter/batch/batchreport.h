#pragma once

#include <QString>

// A file named with a reason, as a batch's report lists it: not converted and why, converted
// with something left out and what, or passed over by the existing-file rule and why.
struct NotConverted
{
    QString file; // as shown: the path, bytes that are not UTF-8 as \xHH
    QString reason;
};

// Said, by every face, of files converted with something left out of them.
inline const QString NotesHeading = QStringLiteral("以下文件已转换，但有内容没有放进MP3：");
