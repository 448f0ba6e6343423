#pragma once

#include "converter/batch/batchoptions.h"

#include <QString>
#include <array>

// The settings window's words for the profile, kept apart from the window so they can be checked
// without one.
namespace settingstext {

// The typical rate of each variable-rate quality V0 .. V9, in kbit/s, as LAME's users know them.
inline constexpr std::array<int, MaxVbrQuality + 1> VbrTypicalKbps = {245, 225, 190, 175, 165,
                                                                      130, 115, 100, 85,  65};
// The quality most people choose.
inline constexpr int UsualVbrQuality = 2;

// "128 Kbps", as the window's options name a constant rate.
QString ConstantRateItem(int kbps);
// "V2（约190 Kbps，常用）".
QString VbrItem(int quality);
// The status line for a quality the main window's seven options cannot show:
// "MP3格式为可变比特率V2", "MP3格式为固定比特率320Kbps", "MP3格式为平均比特率200Kbps".
QString QualityLine(const RateChoice &rate);
// What the profile's check found, named by the settings window's own words.
QString ProblemText(const OptionsProblem &problem);
// The file name a pattern gives the first listed file, or what is wrong with the pattern.
QString PreviewText(const QString &pattern, const QMap<QString, QString> &tags,
                    const QString &fileName);

} // namespace settingstext
