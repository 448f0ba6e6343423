#include "mp3enc/component/pairchecks.h"

#include "mp3enc/calc/reasons.h"
#include "mp3enc/encode/tempoutput.h"
#include "mp3enc/input/sndfilereader.h"
#include "runtime/filename.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace pairchecks {

std::unique_ptr<SndFileReader> openInput(const QString &path)
{
    const QByteArray bytes = rt::encodeFileName(path);
    struct stat st = {};
    if (path.isEmpty() || ::stat(bytes.constData(), &st) != 0)
        refuse(rt::ErrFileNotFound, reasons::NotFound);
    if (!S_ISREG(st.st_mode)) // a folder, a device or a pipe, which could block the reader
        refuse(ErrInvalidFileFormat, reasons::NotRegular);
    if (::access(bytes.constData(), R_OK) != 0)
        refuse(rt::ErrPermissionDenied, reasons::Unreadable);
    auto reader = std::make_unique<SndFileReader>();
    if (!reader->open(path))
        refuse(ErrInvalidFileFormat, reasons::notAudio(reader->errorText()));
    if (!reader->isEncodable())
        refuse(ErrInvalidFileFormat, reasons::AlreadyMp3);
    if (reader->frames() <= 0)
        refuse(ErrInvalidFileFormat, reasons::NoSound);
    return reader;
}

void checkOutput(const SndFileReader &input, const QString &output)
{
    // "dir/" names no file in dir: the folder is checked, and the empty name refused.
    const QString path = rt::absolutePath(output);
    const qsizetype slash = path.lastIndexOf(u'/');
    const QString folder = output.endsWith(u'/') ? path : path.left(std::max<qsizetype>(slash, 1));
    const QString name = output.endsWith(u'/') ? QString() : path.mid(slash + 1);
    const QByteArray folderBytes = rt::encodeFileName(folder);
    const QByteArray outputBytes = rt::encodeFileName(path);
    struct stat st = {};
    if (output.isEmpty() || ::stat(folderBytes.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        refuse(rt::ErrPathNotFound, reasons::FolderMissing);
    if (::access(folderBytes.constData(), W_OK | X_OK) != 0)
        refuse(rt::ErrPermissionDenied, reasons::FolderNotWritable);
    const bool exists = !name.isEmpty() && ::stat(outputBytes.constData(), &st) == 0;
    if (name.isEmpty() || (exists && S_ISDIR(st.st_mode)))
        refuse(rt::ErrPathFileAccess, reasons::NamesFolder);
    const long nameMax = ::pathconf(folderBytes.constData(), _PC_NAME_MAX);
    if (nameMax > 0 && rt::encodeFileName(name).size() > nameMax)
        refuse(rt::ErrBadFileName, reasons::nameTooLong(nameMax));
    if (exists && TempOutput::isWriteProtected(AT_FDCWD, outputBytes.constData(), st))
        refuse(rt::ErrPermissionDenied, reasons::Protected);
    // Inode identity catches other spellings, symbolic and hard links alike.
    struct stat in = {};
    if (exists && ::fstat(input.descriptor(), &in) == 0 && in.st_dev == st.st_dev &&
        in.st_ino == st.st_ino)
        refuse(rt::ErrPathFileAccess, reasons::OverwritesInput);
}

int keptSampleRate(int inputRate)
{
    constexpr int Mp3Rates[] = {48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    for (int rate : Mp3Rates) {
        if (rate <= inputRate)
            return rate;
    }
    return 8000;
}

bool sameFolder(const struct stat &before, int descriptor)
{
    struct stat now = {};
    return descriptor >= 0 && ::fstat(descriptor, &now) == 0 && now.st_dev == before.st_dev &&
           now.st_ino == before.st_ino;
}

} // namespace pairchecks
