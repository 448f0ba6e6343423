#pragma once

#include <QString>

// Writes embedded payload `ResId` of type `ResType` to `FileName`; 0 or the error number.
int WriteResToFile(int ResId, const QString &ResType, const QString &FileName);
